#include "Song.h"

#include "Instruments.h"

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace song
{
namespace
{

constexpr int kRowsPerBar = 16; // four beats of four rows
constexpr int kBarsPerPattern = 4;
constexpr int kPatterns = 8;
constexpr int kTempo = 92;    // beats per minute
constexpr int kEchoDelay = 3; // rows: a dotted eighth, about half a second

// Channels, in the order they appear in the tracker.
enum Channel
{
    kPadA = 0, // three voices of one chord...
    kPadB = 3, // ...and three of the next: chords cross-fade instead of cutting
    kBass = 6,
    kLead = 7,
    kEcho = 8,
    kArp = 9,
    kKick = 10,
    kSnare = 11,
    kHat = 12,
    kChannels = 13
};

// Instruments, numbered as the module lists them (from 1).
enum Instrument
{
    kPad = 1,
    kBassSample,
    kBell,
    kPluck,
    kKickSample,
    kSnareSample,
    kHatSample
};

// "C-4", "F#3": a note name and octave; C-4 is middle C.
int N(const char* name)
{
    static const std::string letters = "C-C#D-D#E-F-F#G-G#A-A#B-";
    const std::string s(name);
    const auto at = letters.find(s.substr(0, 2));
    if (s.size() != 3 || at == std::string::npos || at % 2 != 0)
        throw std::invalid_argument("bad note name " + s);
    return static_cast<int>(at / 2) + 12 * (s[2] - '0');
}

struct Chord
{
    const char* bass;
    std::array<const char*, 3> pad;
    std::array<const char*, 4> arp; // low to high
};

// Section A: i - VI - III - VII in A minor, in soft voicings over the root.
const std::array<Chord, 4> kSectionA = {{
    {"A-2", {"C-4", "E-4", "G-4"}, {"A-4", "C-5", "E-5", "G-5"}}, // Am7
    {"F-2", {"C-4", "E-4", "A-4"}, {"F-4", "A-4", "C-5", "E-5"}}, // Fmaj7
    {"C-3", {"B-3", "E-4", "G-4"}, {"E-4", "G-4", "B-4", "C-5"}}, // Cmaj7
    {"G-2", {"A-3", "D-4", "G-4"}, {"G-4", "A-4", "D-5", "G-5"}}, // Gsus2
}};
// Section B: iv - i - VI - Vsus4, the suspension leading home.
const std::array<Chord, 4> kSectionB = {{
    {"D-2", {"C-4", "F-4", "A-4"}, {"F-4", "A-4", "C-5", "E-5"}}, // Dm9
    {"A-2", {"C-4", "E-4", "G-4"}, {"A-4", "C-5", "E-5", "G-5"}}, // Am7
    {"F-2", {"C-4", "E-4", "A-4"}, {"F-4", "A-4", "C-5", "E-5"}}, // Fmaj7
    {"E-2", {"B-3", "E-4", "A-4"}, {"E-4", "A-4", "B-4", "E-5"}}, // Esus4
}};

struct MelodyNote
{
    int bar;
    int row; // within the bar
    const char* note;
};

const std::vector<MelodyNote> kMelodyA1 = {
    {0, 0, "E-5"},  {0, 6, "D-5"}, {0, 8, "C-5"}, {1, 0, "A-4"}, {1, 8, "C-5"},
    {1, 12, "E-5"}, {2, 0, "D-5"}, {2, 6, "E-5"}, {2, 8, "G-5"}, {3, 0, "D-5"},
};
const std::vector<MelodyNote> kMelodyA2 = {
    {0, 0, "A-4"}, {0, 3, "C-5"}, {0, 6, "E-5"}, {0, 12, "G-5"}, {1, 0, "E-5"}, {1, 10, "C-5"},
    {2, 0, "B-4"}, {2, 4, "C-5"}, {2, 8, "E-5"}, {3, 0, "D-5"},  {3, 8, "A-4"},
};
const std::vector<MelodyNote> kMelodyB = {
    {0, 0, "F-5"}, {0, 6, "E-5"}, {0, 8, "D-5"},  {0, 12, "A-4"}, {1, 0, "C-5"},
    {1, 8, "E-5"}, {2, 0, "G-5"}, {2, 6, "F-5"},  {2, 8, "E-5"},  {2, 12, "C-5"},
    {3, 0, "B-4"}, {3, 8, "E-5"}, {3, 12, "D-5"},
};
// The last pattern's farewell: the opening of A2, then one long note.
const std::vector<MelodyNote> kMelodyCoda = {
    {0, 0, "A-4"}, {0, 3, "C-5"}, {0, 6, "E-5"}, {0, 12, "G-5"}, {1, 0, "E-5"}, {2, 0, "E-5"},
};

// What plays in one pattern.
struct Arrangement
{
    const std::array<Chord, 4>* chords;
    int arpFromBar = 4; // 4: no arpeggio
    int arpVolume = 0;
    bool bass = false;
    int drumBars = 0; // kick and hat in the first drumBars bars
    bool snare = false;
    const std::vector<MelodyNote>* melody = nullptr;
};

// The whole song as one long list of rows, cut into patterns at the end. Positions wrap
// around the song's end, because the song loops: a fade that starts in the last pattern
// continues into the first.
class Timeline
{
public:
    Timeline() : rows_(kPatterns * s3m::kRowsPerPattern) {}

    int Length() const { return static_cast<int>(rows_.size()); }

    void Note(int channel, int row, int note, int instrument, int volume)
    {
        s3m::Cell& cell = At(channel, row);
        if (cell.note != s3m::Cell::kNoNote)
            throw std::logic_error("two notes in one cell");
        cell.note = s3m::EncodeNote(note);
        cell.instrument = static_cast<std::uint8_t>(instrument);
        cell.volume = volume;
    }
    void Cut(int channel, int row) { At(channel, row).note = s3m::Cell::kNoteCut; }
    // Volume slide down by amount per tick, for the row.
    void SlideDown(int channel, int row, int amount)
    {
        s3m::Cell& cell = At(channel, row);
        cell.effect = 'D';
        cell.param = static_cast<std::uint8_t>(amount & 15);
    }

    std::vector<s3m::Pattern> Patterns() const
    {
        std::vector<s3m::Pattern> patterns(kPatterns);
        for (int r = 0; r < Length(); ++r)
            patterns[r / s3m::kRowsPerPattern].rows[r % s3m::kRowsPerPattern] = rows_[r];
        return patterns;
    }

private:
    s3m::Cell& At(int channel, int row) { return rows_[(row % Length())][channel]; }

    std::vector<std::array<s3m::Cell, s3m::kMaxChannels>> rows_;
};

constexpr int kPadVolume = 26;
constexpr int kBassVolume = 40;
constexpr int kLeadVolume = 48;
constexpr int kEchoVolume = 18;

void AddPads(Timeline& t, int bar, const Chord& chord)
{
    const int row = bar * kRowsPerBar;
    const int set = bar % 2 == 0 ? kPadA : kPadB;
    const int previous = set == kPadA ? kPadB : kPadA;
    for (int v = 0; v < 3; ++v)
    {
        t.Note(set + v, row, N(chord.pad[v]), kPad, kPadVolume);
        // The previous chord fades over about a second while this one swells in: 5 ticks
        // per row at 1 step each take 26 down to 0 in six rows.
        for (int r = 0; r < 6; ++r)
            t.SlideDown(previous + v, row + r, 1);
    }
}

void AddBass(Timeline& t, int bar, const Chord& chord, bool fadeOut)
{
    const int row = bar * kRowsPerBar;
    t.Note(kBass, row, N(chord.bass), kBassSample, kBassVolume);
    if (fadeOut)
    {
        for (int r = 6; r < 14; ++r)
            t.SlideDown(kBass, row + r, 2);
        return;
    }
    t.Note(kBass, row + 10, N(chord.bass), kBassSample, kBassVolume - 12);
}

void AddArpeggio(Timeline& t, int bar, const Chord& chord, int volume)
{
    static const int kOrder[8] = {0, 1, 2, 3, 1, 2, 3, 2};
    static const int kAccent[8] = {4, 0, 2, 0, 3, 0, 2, 0};
    for (int i = 0; i < 8; ++i)
        t.Note(kArp, bar * kRowsPerBar + 2 * i, N(chord.arp[kOrder[i]]), kPluck,
               volume + kAccent[i]);
}

void AddDrums(Timeline& t, int bar, bool snare)
{
    const int row = bar * kRowsPerBar;
    t.Note(kKick, row, N("C-4"), kKickSample, 44);
    t.Note(kKick, row + 10, N("C-4"), kKickSample, 30);
    if (snare)
        t.Note(kSnare, row + 8, N("C-4"), kSnareSample, 36); // half-time: beat three only
    for (int r = 2; r < kRowsPerBar; r += 2)
        t.Note(kHat, row + r, N("C-4"), kHatSample, r % 4 == 2 ? 18 : 10);
}

void AddMelody(Timeline& t, int firstRow, const std::vector<MelodyNote>& melody)
{
    for (const MelodyNote& m : melody)
    {
        const int row = firstRow + m.bar * kRowsPerBar + m.row;
        t.Note(kLead, row, N(m.note), kBell, kLeadVolume);
        // The echo: the same note a dotted eighth later, softer, on the other side.
        if (row + kEchoDelay >= t.Length())
            throw std::logic_error("an echo would wrap into the song's start");
        t.Note(kEcho, row + kEchoDelay, N(m.note), kBell, kEchoVolume);
    }
}

void Arrange(Timeline& t, int pattern, const Arrangement& a)
{
    const int firstBar = pattern * kBarsPerPattern;
    const bool last = pattern == kPatterns - 1;
    for (int b = 0; b < kBarsPerPattern; ++b)
    {
        const Chord& chord = (*a.chords)[b];
        AddPads(t, firstBar + b, chord);
        if (a.bass)
            AddBass(t, firstBar + b, chord, last && b == kBarsPerPattern - 1);
        if (b >= a.arpFromBar)
            AddArpeggio(t, firstBar + b, chord, a.arpVolume);
        if (b < a.drumBars)
            AddDrums(t, firstBar + b, a.snare);
    }
    if (a.melody != nullptr)
        AddMelody(t, firstBar * kRowsPerBar, *a.melody);
}

} // namespace

s3m::Module Compose()
{
    Timeline t;
    const auto* A = &kSectionA;
    const auto* B = &kSectionB;
    // Pads alone, then the arpeggio, the bass and drums join; two A sections with the lead;
    // a B section without and one with it; A again; and a coda that thins out towards the
    // opening pads, so the loop is a breath rather than a seam.
    const std::array<Arrangement, kPatterns> song = {{
        {A, 2, 14, false, 0, false, nullptr},
        {A, 0, 16, true, 4, false, nullptr},
        {A, 4, 0, true, 4, true, &kMelodyA1},
        {A, 0, 10, true, 4, true, &kMelodyA2},
        {B, 0, 16, true, 4, false, nullptr},
        {B, 0, 10, true, 4, true, &kMelodyB},
        {A, 0, 12, true, 4, true, &kMelodyA1},
        {A, 0, 12, true, 3, false, &kMelodyCoda},
    }};
    for (int p = 0; p < kPatterns; ++p)
        Arrange(t, p, song[p]);
    // The bass of the coda has faded; make sure it is silent when the song starts over.
    t.Cut(kBass, 0);

    s3m::Module m;
    m.title = "Windwalker";
    m.initialSpeed = 6;
    m.initialTempo = kTempo;
    m.globalVolume = 64;
    m.masterVolume = 72;
    const std::uint8_t pans[kChannels] = {3, 7, 11, 4, 8, 12, 7, 9, 4, 11, 7, 8, 10};
    m.channelPanning.assign(pans, pans + kChannels);
    m.samples = {instruments::Pad(),   instruments::Bass(), instruments::Bell(),
                 instruments::Pluck(), instruments::Kick(), instruments::Snare(),
                 instruments::Hat()};
    m.patterns = t.Patterns();
    for (int p = 0; p < kPatterns; ++p)
        m.orders.push_back(static_cast<std::uint8_t>(p));
    return m;
}

} // namespace song
