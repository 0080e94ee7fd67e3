// An in-memory Scream Tracker 3 module and its writer: just what our music generator needs
// (16-bit mono samples, packed patterns, a panning table), in the file layout ST3 3.20 and
// libopenmpt read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace s3m
{

constexpr int kRowsPerPattern = 64;
constexpr int kMaxChannels = 32;

// A sample as floating-point audio in [-1, 1]; written as signed 16-bit.
struct Sample
{
    std::string name;            // up to 28 characters
    std::string fileName;        // DOS 8.3 name, up to 12 characters
    std::vector<float> data;     // mono
    std::uint32_t c4Rate = 8363; // the rate at which note C-4 plays the data
    bool loop = false;
    std::uint32_t loopStart = 0; // in samples
    std::uint32_t loopEnd = 0;   // exclusive
    std::uint8_t volume = 64;    // default volume, 0..64
};

// One channel's entry in one row. Empty fields are not written.
struct Cell
{
    static constexpr std::uint8_t kNoNote = 255;
    static constexpr std::uint8_t kNoteCut = 254;

    std::uint8_t note = kNoNote; // octave * 16 + semitone, or kNoteCut
    std::uint8_t instrument = 0; // 1-based; 0 keeps the channel's instrument
    int volume = -1;             // 0..64, or -1 for none
    char effect = 0;             // 'A'..'Z', or 0 for none
    std::uint8_t param = 0;

    bool Empty() const { return note == kNoNote && instrument == 0 && volume < 0 && effect == 0; }
};

struct Pattern
{
    std::vector<std::array<Cell, kMaxChannels>> rows =
        std::vector<std::array<Cell, kMaxChannels>>(kRowsPerPattern);
};

struct Module
{
    std::string title;                        // up to 28 characters
    std::uint8_t globalVolume = 64;           // 0..64
    std::uint8_t masterVolume = 48;           // 16..127; the mixer's pre-amplification
    std::uint8_t initialSpeed = 6;            // ticks per row
    std::uint8_t initialTempo = 125;          // beats per minute at four rows per beat and speed 6
    std::vector<std::uint8_t> channelPanning; // one per used channel, 0 (left) .. 15 (right)
    std::vector<std::uint8_t> orders;         // pattern numbers, played in turn
    std::vector<Sample> samples;
    std::vector<Pattern> patterns;
};

// Encodes a note from its semitone number counted from C-0 (C-4 = 48).
std::uint8_t EncodeNote(int semitones);

// Serialises the module into the bytes of an .s3m file. Throws std::invalid_argument when
// something cannot be represented (too many channels, a name too long, a bad loop).
std::vector<std::uint8_t> Write(const Module& module);

} // namespace s3m
