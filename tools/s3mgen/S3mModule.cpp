#include "S3mModule.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace s3m
{
namespace
{

class ByteWriter
{
public:
    std::vector<std::uint8_t> bytes;

    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v)
    {
        U8(static_cast<std::uint8_t>(v & 0xFF));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(static_cast<std::uint16_t>(v & 0xFFFF));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    // A fixed-size text field, padded with zeros.
    void Text(const std::string& s, std::size_t size)
    {
        if (s.size() > size)
            throw std::invalid_argument("text too long for its field: " + s);
        for (std::size_t i = 0; i < size; ++i)
            U8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
    }
    void Zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    // Pads to the next 16-byte paragraph and returns its paragraph number.
    std::uint32_t AlignParagraph()
    {
        while (bytes.size() % 16 != 0)
            U8(0);
        return static_cast<std::uint32_t>(bytes.size() / 16);
    }
    void PutU16At(std::size_t at, std::uint16_t v)
    {
        bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
};

std::uint16_t Paragraph(std::uint32_t p)
{
    if (p > 0xFFFF)
        throw std::invalid_argument("module too large for 16-bit paragraph pointers");
    return static_cast<std::uint16_t>(p);
}

std::vector<std::uint8_t> PackPattern(const Pattern& pattern, std::size_t channels)
{
    ByteWriter w;
    w.U16(0); // the packed length, filled in below
    for (const auto& row : pattern.rows)
    {
        for (std::size_t c = 0; c < channels; ++c)
        {
            const Cell& cell = row[c];
            if (cell.Empty())
                continue;
            const bool noteOrInstrument = cell.note != Cell::kNoNote || cell.instrument != 0;
            std::uint8_t what = static_cast<std::uint8_t>(c);
            what |= noteOrInstrument ? 32 : 0;
            what |= cell.volume >= 0 ? 64 : 0;
            what |= cell.effect != 0 ? 128 : 0;
            w.U8(what);
            if (noteOrInstrument)
            {
                w.U8(cell.note);
                w.U8(cell.instrument);
            }
            if (cell.volume >= 0)
                w.U8(static_cast<std::uint8_t>(std::min(cell.volume, 64)));
            if (cell.effect != 0)
            {
                if (cell.effect < 'A' || cell.effect > 'Z')
                    throw std::invalid_argument("effect must be a letter A..Z");
                w.U8(static_cast<std::uint8_t>(cell.effect - 'A' + 1));
                w.U8(cell.param);
            }
        }
        w.U8(0); // end of row
    }
    w.PutU16At(0, static_cast<std::uint16_t>(w.bytes.size()));
    return w.bytes;
}

// Signed floats to unsigned 16-bit little-endian, the sample format the header announces.
void WriteSampleData(ByteWriter& w, const std::vector<float>& data)
{
    for (float v : data)
    {
        const long q = std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f);
        w.U16(static_cast<std::uint16_t>(q + 32768));
    }
}

} // namespace

std::uint8_t EncodeNote(int semitones)
{
    if (semitones < 0 || semitones >= 8 * 12)
        throw std::invalid_argument("note outside the S3M range");
    return static_cast<std::uint8_t>((semitones / 12) * 16 + semitones % 12);
}

std::vector<std::uint8_t> Write(const Module& module)
{
    const std::size_t channels = module.channelPanning.size();
    if (channels == 0 || channels > 16)
        throw std::invalid_argument("between 1 and 16 channels are supported");
    for (const Sample& s : module.samples)
    {
        if (s.loop && !(s.loopStart < s.loopEnd && s.loopEnd <= s.data.size()))
            throw std::invalid_argument("bad loop in sample " + s.name);
    }

    // The order list must have an even length; 255 marks the padding as "end of song".
    std::vector<std::uint8_t> orders = module.orders;
    if (orders.size() % 2 != 0)
        orders.push_back(255);

    ByteWriter w;
    w.Text(module.title, 28);
    w.U8(0x1A);
    w.U8(16); // type: ST3 module
    w.Zeros(2);
    w.U16(static_cast<std::uint16_t>(orders.size()));
    w.U16(static_cast<std::uint16_t>(module.samples.size()));
    w.U16(static_cast<std::uint16_t>(module.patterns.size()));
    w.U16(0);      // flags
    w.U16(0x1320); // written by "Scream Tracker 3.20"
    w.U16(2);      // samples are unsigned
    w.Text("SCRM", 4);
    w.U8(module.globalVolume);
    w.U8(module.initialSpeed);
    w.U8(module.initialTempo);
    w.U8(static_cast<std::uint8_t>(module.masterVolume | 0x80)); // stereo
    w.U8(0);                                                     // no GUS click removal
    w.U8(252); // a panning table follows the pointers
    w.Zeros(8);
    w.U16(0); // no special data
    // Channel settings: alternate left (0..7) and right (8..15) hardware channels; the
    // panning table below places them precisely.
    for (std::size_t c = 0; c < 32; ++c)
        w.U8(c < channels ? static_cast<std::uint8_t>((c % 2) * 8 + c / 2) : 255);

    for (std::uint8_t o : orders)
        w.U8(o);
    const std::size_t instrumentPointers = w.bytes.size();
    w.Zeros(module.samples.size() * 2);
    const std::size_t patternPointers = w.bytes.size();
    w.Zeros(module.patterns.size() * 2);
    for (std::size_t c = 0; c < 32; ++c)
        w.U8(c < channels ? static_cast<std::uint8_t>(0x20 | (module.channelPanning[c] & 15)) : 0);

    // Instrument headers, with their sample pointers patched once the data is placed.
    std::vector<std::size_t> headerAt;
    for (std::size_t i = 0; i < module.samples.size(); ++i)
    {
        const Sample& s = module.samples[i];
        w.PutU16At(instrumentPointers + 2 * i, Paragraph(w.AlignParagraph()));
        headerAt.push_back(w.bytes.size()); // 0x50 bytes, a whole number of paragraphs
        w.U8(1);                            // a sample
        w.Text(s.fileName, 12);
        w.Zeros(3); // data pointer, patched below
        w.U32(static_cast<std::uint32_t>(s.data.size()));
        w.U32(s.loop ? s.loopStart : 0);
        w.U32(s.loop ? s.loopEnd : 0);
        w.U8(s.volume);
        w.U8(0);                                               // reserved
        w.U8(0);                                               // not packed
        w.U8(static_cast<std::uint8_t>((s.loop ? 1 : 0) | 4)); // 16-bit
        w.U32(s.c4Rate);
        w.Zeros(12);
        w.Text(s.name, 28);
        w.Text("SCRS", 4);
    }

    for (std::size_t p = 0; p < module.patterns.size(); ++p)
    {
        w.PutU16At(patternPointers + 2 * p, Paragraph(w.AlignParagraph()));
        const auto packed = PackPattern(module.patterns[p], channels);
        w.bytes.insert(w.bytes.end(), packed.begin(), packed.end());
    }

    for (std::size_t i = 0; i < module.samples.size(); ++i)
    {
        const std::uint32_t at = w.AlignParagraph();
        if (at > 0xFFFFFF)
            throw std::invalid_argument("module too large for sample pointers");
        w.bytes[headerAt[i] + 0x0D] = static_cast<std::uint8_t>(at >> 16);
        w.PutU16At(headerAt[i] + 0x0E, static_cast<std::uint16_t>(at & 0xFFFF));
        WriteSampleData(w, module.samples[i].data);
    }
    w.AlignParagraph();
    return w.bytes;
}

} // namespace s3m
