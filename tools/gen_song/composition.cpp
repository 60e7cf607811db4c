// The arrangement: note helpers, the parts each channel plays, and the sections of the song in
// the order they are heard.
#include "composition.h"

#include <string>

namespace gensong {
namespace {

constexpr uint8_t keyOff = xmwrite::noteKeyOff;

namespace xm = music::xm;

// The effects the arrangement uses, by the format's numbers.
constexpr uint8_t fxArpeggio = xm::effectArpeggio;
constexpr uint8_t fxPortaUp = xm::effectPortamentoUp;
constexpr uint8_t fxPortaDown = xm::effectPortamentoDown;
constexpr uint8_t fxTonePorta = xm::effectTonePortamento;
constexpr uint8_t fxVibrato = xm::effectVibrato;
constexpr uint8_t fxVibratoSlide = xm::effectVibratoVolumeSlide;
constexpr uint8_t fxTremolo = xm::effectTremolo;
constexpr uint8_t fxPanning = xm::effectSetPanning;
constexpr uint8_t fxSampleOffset = xm::effectSampleOffset;
constexpr uint8_t fxVolumeSlide = xm::effectVolumeSlide;
constexpr uint8_t fxExtended = xm::effectExtended;
constexpr uint8_t fxKeyOff = xm::effectKeyOff;
constexpr uint8_t fxMultiRetrig = xm::effectMultiRetrig;

constexpr uint8_t extRetrigger = xm::extendedParam(xm::extendedRetrigger, 0);
constexpr uint8_t extNoteCut = xm::extendedParam(xm::extendedNoteCut, 0);
constexpr uint8_t extNoteDelay = xm::extendedParam(xm::extendedNoteDelay, 0);
constexpr uint8_t extFinePortaUp = xm::extendedParam(xm::extendedFinePortamentoUp, 0);

uint8_t setVolume(int32_t v) {
    return static_cast<uint8_t>(xm::volumeColumnSetVolumeFirst + v);
}

uint8_t slideVolumeUp(int32_t v) {
    return static_cast<uint8_t>((xm::volumeColumnSlideUp << 4) + v);
}

// "A-4", "C#5", "Bb3": note number of the format (C-0 = 1).
uint8_t noteNumber(const char* name) {
    static constexpr std::array<int32_t, 7> semitone = {9, 11, 0, 2, 4, 5, 7}; // A..G
    int32_t s = semitone[static_cast<size_t>(name[0] - 'A')];
    int32_t i = 1;
    if (name[i] == '#')
        ++s, ++i;
    else if (name[i] == 'b')
        --s, ++i;
    else if (name[i] == '-')
        ++i;
    const int32_t octave = name[i] - '0';
    return static_cast<uint8_t>(octave * 12 + s + 1);
}

void put(Pattern& p, int32_t row, int32_t channel, uint8_t note, uint8_t instrument,
         uint8_t volume = 0, uint8_t effect = 0, uint8_t param = 0) {
    Cell& c = p.at(row, channel);
    c.note = note;
    c.instrument = instrument;
    c.volume = volume;
    c.effect = effect;
    c.param = param;
}

void effect(Pattern& p, int32_t row, int32_t channel, uint8_t type, uint8_t param) {
    p.at(row, channel).effect = type;
    p.at(row, channel).param = param;
}

void volumeColumn(Pattern& p, int32_t row, int32_t channel, uint8_t v) {
    p.at(row, channel).volume = v;
}

// A line of one token per row: "." nothing, "^" key-off, "~" vibrato on a held note,
// "A4"/"C#5" a note with the instrument, ">E5" a tone-portamento slide to E5.
void melody(Pattern& p, int32_t channel, int32_t startRow, uint8_t instrument,
            const std::string& line, uint8_t vibrato = 0x53, uint8_t slideSpeed = 0x18) {
    int32_t row = startRow;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        const std::string token = line.substr(i, j - i);
        i = j;
        if (token == ".") {
        } else if (token == "^") {
            put(p, row, channel, keyOff, 0);
        } else if (token == "~") {
            effect(p, row, channel, fxVibrato, vibrato);
        } else if (token[0] == '>') {
            std::string name = token.substr(1);
            if (name.size() == 2) name.insert(1, "-");
            put(p, row, channel, noteNumber(name.c_str()), 0, 0, fxTonePorta, slideSpeed);
        } else {
            std::string name = token;
            if (name.size() == 2) name.insert(1, "-");
            put(p, row, channel, noteNumber(name.c_str()), instrument);
        }
        ++row;
    }
}

struct Chord {
    const char* root; // note for the chord sample
    bool minor;
    const char* bassRoot;
};

const Chord chordAm{"A-3", true, "A-1"};
const Chord chordF{"F-3", false, "F-1"};
const Chord chordC{"C-4", false, "C-2"};
const Chord chordG{"G-3", false, "G-1"};
const Chord chordDm{"D-4", true, "D-2"};
const Chord chordE{"E-3", false, "E-2"};

uint8_t chordInstrument(const Chord& c) {
    return c.minor ? chordMinor : chordMajor;
}

// Four on the floor from row `from` to row `to` (exclusive).
void kicks(Pattern& p, int32_t from, int32_t to) {
    for (int32_t r = from; r < to; r += rowsPerBeat) put(p, r, chKick, noteNumber("C-4"), kick);
}

// Off-beat hats, snare on beats 2 and 4, an open hat closing every second bar.
void groove(Pattern& p, int32_t fromBar, int32_t toBar, bool withSnare, uint8_t backbeat) {
    for (int32_t bar = fromBar; bar < toBar; ++bar) {
        const int32_t r0 = bar * rowsPerBar;
        for (int32_t k = 1; k < rowsPerBar; k += 2)
            put(p, r0 + k, chDrums, noteNumber("C-4"), closedHat, k == 3 ? setVolume(22) : 0);
        if (bar % 2 == 1) put(p, r0 + 7, chDrums, noteNumber("C-4"), openHat);
        if (withSnare) {
            put(p, r0 + 2, chDrums, noteNumber("C-4"), backbeat);
            put(p, r0 + 6, chDrums, noteNumber("C-4"), backbeat);
        }
        // a ghost hat a little after the downbeat
        put(p, r0 + 4, chDrums, noteNumber("C-4"), closedHat, setVolume(12), fxExtended,
            extNoteDelay | 4);
    }
}

// Bass that answers the kick: notes on the off-beats, released on the beats.
void offbeatBass(Pattern& p, int32_t bar, const Chord& chord, bool octaveJump) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = noteNumber(chord.bassRoot);
    for (int32_t k = 0; k < rowsPerBar; k += 2) {
        put(p, r0 + k, chBass, keyOff, 0);
        const bool up = octaveJump && k == 4;
        put(p, r0 + k + 1, chBass, static_cast<uint8_t>(root + (up ? 12 : 0)), bass);
    }
}

// Rolling acid eighths with slides into the octave.
void acidBass(Pattern& p, int32_t bar, const Chord& chord) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = static_cast<uint8_t>(noteNumber(chord.bassRoot) + 12);
    for (int32_t k = 0; k < rowsPerBar; ++k) {
        if (k == 3) {
            put(p, r0 + k, chBass, static_cast<uint8_t>(root + 12), 0, 0, fxTonePorta, 0x40);
        } else if (k == 6) {
            put(p, r0 + k, chBass, static_cast<uint8_t>(root + 7), acid, setVolume(40));
        } else {
            put(p, r0 + k, chBass, root, acid, k % 2 ? setVolume(26) : 0);
        }
    }
}

// A held chord that ducks under each kick and swells back on the off-beat.
void pumpingChord(Pattern& p, int32_t bar, const Chord& chord) {
    const int32_t r0 = bar * rowsPerBar;
    put(p, r0, chChords, noteNumber(chord.root), chordInstrument(chord), setVolume(14));
    for (int32_t k = 1; k < rowsPerBar; ++k)
        volumeColumn(p, r0 + k, chChords, k % 2 ? slideVolumeUp(3) : setVolume(14));
}

void heldChord(Pattern& p, int32_t bar, const Chord& chord, int32_t volume) {
    put(p, bar * rowsPerBar, chChords, noteNumber(chord.root), chordInstrument(chord),
        setVolume(volume));
}

// The chord broken into the fast arpeggio of the effect, one pluck per eighth.
void arpeggioBar(Pattern& p, int32_t bar, const Chord& chord, int32_t volume) {
    const int32_t r0 = bar * rowsPerBar;
    const uint8_t root = static_cast<uint8_t>(noteNumber(chord.root) + 12);
    const uint8_t shape = chord.minor ? 0x37 : 0x47;
    for (int32_t k = 0; k < rowsPerBar; ++k) {
        const uint8_t n = static_cast<uint8_t>(k % 4 == 3 ? root + 12 : root);
        put(p, r0 + k, chColour, n, arp, setVolume(volume - (k % 2 ? 8 : 0)), fxArpeggio, shape);
    }
}

// Bell figure over a chord: top, middle, low, middle, top.
void bellFigure(Pattern& p, int32_t bar, std::array<const char*, 3> tones, int32_t volume) {
    const int32_t r0 = bar * rowsPerBar;
    put(p, r0 + 0, chLead, noteNumber(tones[0]), bell, setVolume(volume));
    put(p, r0 + 2, chLead, noteNumber(tones[1]), bell, setVolume(volume - 8));
    put(p, r0 + 3, chLead, noteNumber(tones[2]), bell, setVolume(volume - 12), fxExtended,
        extNoteDelay | 3);
    put(p, r0 + 5, chLead, noteNumber(tones[1]), bell, setVolume(volume - 14));
    put(p, r0 + 6, chLead, noteNumber(tones[0]), bell, setVolume(volume - 18));
}

const std::array<Chord, 4> progressionA = {chordAm, chordF, chordC, chordG};
const std::array<Chord, 8> progressionB = {chordDm, chordF, chordC, chordG,
                                           chordAm, chordF, chordG, chordE};

const std::array<const char*, 8> leadA = {
    "A4 . C5 . E5 . D5 C5", "C5 ~ . . A4 . . .",   "G4 . C5 . E5 . G5 .", "F5 . E5 . D5 ~ . .",
    "A4 . C5 . E5 . A5 .",  "G5 . F5 . E5 . C5 .", "E5 ~ . D5 C5 . D5 .", "B4 ~ . . D5 . ^ .",
};
const std::array<const char*, 8> leadB = {
    "F5 ~ . . E5 . D5 .", "C5 ~ . . A4 . C5 .",  "E5 ~ . . G5 . >E5 .", "D5 ~ . . . . B4 .",
    "C5 . . . E5 . A5 .", "A5 . G5 . F5 . E5 .", "D5 ~ . . B4 . D5 .",  "G#5 ~ . . . . E5 .",
};
const std::array<const char*, 6> leadClimax = {
    "A5 ~ . . E5 . A5 .", "C5 . F5 . A5 ~ . .",   "G5 . E5 . C5 . E5 .",
    "D5 . G5 . B4 ~ . .", "A4 . C5 . E5 . >A5 .", "G5 . F5 . E5 . C5 .",
};

// ---- order 0, pattern 9: intro (beats 0..15) and the drop (beats 16..31).
Pattern composeOpening() {
    Pattern p;
    for (int32_t bar = 0; bar < 4; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar)];
        heldChord(p, bar, c, bar == 0 ? 4 : 28);
        if (bar == 0)
            for (int32_t k = 1; k < rowsPerBar; ++k)
                volumeColumn(p, k, chChords, slideVolumeUp(k < 4 ? 1 : 0));
    }
    // pad top line gliding between chord tones
    put(p, 0, chColour, noteNumber("E-4"), pad, setVolume(26));
    put(p, 8, chColour, noteNumber("F-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 16, chColour, noteNumber("E-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 24, chColour, noteNumber("D-4"), 0, 0, fxTonePorta, 0x06);
    put(p, 31, chColour, keyOff, 0);
    bellFigure(p, 1, {"A-5", "F-5", "C-5"}, 34);
    bellFigure(p, 2, {"G-5", "E-5", "C-5"}, 38);
    bellFigure(p, 3, {"B-5", "G-5", "D-5"}, 42);
    // the bass arrives with long roots
    put(p, 16, chBass, noteNumber("C-2"), bass, setVolume(26));
    put(p, 24, chBass, noteNumber("G-1"), bass, setVolume(30));
    put(p, 30, chBass, keyOff, 0);
    // plucked arpeggio comes in for the second half of the intro
    for (int32_t bar = 2; bar < 4; ++bar)
        arpeggioBar(p, bar, progressionA[static_cast<size_t>(bar)], 14 + 6 * (bar - 2));
    // the riser: its last two seconds lead into the drop, nudged upwards
    put(p, 20, chKick, noteNumber("C-4"), riser, 0, fxSampleOffset, 0x44);
    for (int32_t r = 22; r < 32; r += 2) effect(p, r, chKick, fxPortaUp, 0x01);
    // beat 16: everything drops
    for (int32_t bar = 4; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar - 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar >= 6);
    }
    kicks(p, 32, 64);
    groove(p, 4, 8, false, clap);
    put(p, 32, chColour, noteNumber("C-4"), crash);
    for (int32_t bar = 5; bar < 8; ++bar)
        arpeggioBar(p, bar, progressionA[static_cast<size_t>(bar - 4)], 20);
    bellFigure(p, 6, {"G-5", "E-5", "C-5"}, 28);
    bellFigure(p, 7, {"B-5", "G-5", "D-5"}, 30);
    // claps come in for the last bar, with a rolling snare into the next part
    put(p, 58, chDrums, noteNumber("C-4"), clap);
    put(p, 62, chDrums, noteNumber("C-4"), snare, setVolume(30), fxExtended, extRetrigger | 2);
    put(p, 63, chDrums, noteNumber("C-4"), snare, setVolume(40), fxExtended, extRetrigger | 2);
    return p;
}

// ---- order 1, pattern 4: the theme (beats 32..63).
Pattern composeTheme() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar % 2 == 1);
        melody(p, chLead, bar * rowsPerBar, lead, leadA[static_cast<size_t>(bar)]);
        arpeggioBar(p, bar, c, bar < 4 ? 18 : 24);
    }
    // the clap doubles the last backbeat of every fourth bar
    put(p, 30, chDrums, noteNumber("C-4"), clap);
    put(p, 62, chDrums, noteNumber("C-4"), clap);
    // a zap across the turnaround
    put(p, 63, chColour, noteNumber("C-5"), zap, 0, fxPortaDown, 0x20);
    return p;
}

// ---- order 2, pattern 5: the second theme over acid bass (beats 64..95).
Pattern composeSecondTheme(bool withLead) {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 7, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionB[static_cast<size_t>(bar)];
        pumpingChord(p, bar, c);
        acidBass(p, bar, c);
        if (withLead)
            melody(p, chLead, bar * rowsPerBar, lead, leadB[static_cast<size_t>(bar)]);
        else
            bellFigure(p, bar, {"E-5", "C-5", "A-4"}, 26);
    }
    // a sung line held over two bars at a time, its tremolo opening up in the second half
    const std::array<const char*, 4> choirNotes = {"A-4", "G-4", "E-4", "G#4"};
    for (int32_t k = 0; k < 4; ++k) {
        std::string name = choirNotes[static_cast<size_t>(k)];
        if (name.size() == 2) name.insert(1, "-");
        put(p, k * 16, chColour, noteNumber(name.c_str()), choir, setVolume(22));
        if (k >= 2)
            for (int32_t r = k * 16 + 2; r < k * 16 + 14; r += 4)
                effect(p, r, chColour, fxTremolo, 0x42);
        put(p, k * 16 + 15, chColour, noteNumber("C-5"), zap, 0, fxPortaDown, 0x18);
    }
    // tom fill into the climax, panned across the stereo field
    const std::array<const char*, 6> toms = {"E-4", "D-4", "C-4", "A-3", "G-3", "E-3"};
    const std::array<uint8_t, 6> pans = {210, 180, 150, 110, 80, 50};
    for (int32_t k = 0; k < 6; ++k) {
        const int32_t row = 58 + k;
        put(p, row, chDrums, noteNumber(toms[static_cast<size_t>(k)]), tom, 0, fxPanning,
            pans[static_cast<size_t>(k)]);
    }
    put(p, 56, chDrums, noteNumber("C-4"), snare);
    put(p, 57, chDrums, noteNumber("C-4"), closedHat);
    return p;
}

// ---- order 3, pattern 8: the climax (beats 96..121), then the music settles (beats 122..127).
Pattern composeClimax() {
    Pattern p;
    kicks(p, 0, 52);
    put(p, 0, chColour, noteNumber("C-4"), crash);
    for (int32_t bar = 0; bar < 6; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, true);
        melody(p, chLead, bar * rowsPerBar, lead, leadClimax[static_cast<size_t>(bar)]);
        if (bar > 0) arpeggioBar(p, bar, c, 24);
    }
    groove(p, 0, 6, true, snare);
    put(p, 14, chDrums, noteNumber("C-4"), clap);
    put(p, 30, chDrums, noteNumber("C-4"), clap);
    put(p, 46, chDrums, noteNumber("C-4"), clap);
    // beats 120 and 121: the dominant, with a snare crescendo of multi retrigs
    put(p, 48, chChords, noteNumber(chordE.root), chordMajor, setVolume(30));
    for (int32_t r = 48; r < 52; r += 2) {
        put(p, r, chBass, keyOff, 0);
        put(p, r + 1, chBass, noteNumber(chordE.bassRoot), bass);
    }
    put(p, 48, chLead, noteNumber("G#5"), lead, 0, fxVibrato, 0x64);
    effect(p, 49, chLead, fxVibrato, 0x00);
    effect(p, 50, chLead, fxVibrato, 0x00);
    effect(p, 51, chLead, fxVibrato, 0x00);
    put(p, 48, chDrums, noteNumber("C-4"), snare, setVolume(18), fxMultiRetrig, 0xA2);
    for (int32_t r = 49; r < 52; ++r) effect(p, r, chDrums, fxMultiRetrig, 0x00);
    put(p, 48, chColour, noteNumber("E-5"), arp, setVolume(24), fxArpeggio, 0x47);
    for (int32_t r = 49; r < 52; ++r)
        put(p, r, chColour, noteNumber("E-5"), arp, 0, fxArpeggio, 0x47);
    // beat 122: resolve to A minor and let go
    put(p, 52, chColour, noteNumber("C-4"), crash, setVolume(26));
    put(p, 52, chChords, noteNumber(chordAm.root), chordMinor, setVolume(30));
    effect(p, 58, chChords, fxVolumeSlide, 0x01);
    effect(p, 62, chChords, fxVolumeSlide, 0x01);
    put(p, 52, chBass, noteNumber("A-1"), bass, setVolume(40));
    put(p, 60, chBass, keyOff, 0);
    put(p, 52, chLead, noteNumber("A-5"), lead, 0, fxVibrato, 0x53);
    for (int32_t r = 53; r < 58; ++r) effect(p, r, chLead, fxVibrato, 0x00);
    for (int32_t r = 58; r < 62; ++r) effect(p, r, chLead, fxVibratoSlide, 0x01);
    put(p, 62, chLead, keyOff, 0);
    put(p, 54, chKick, noteNumber("A-4"), choir, setVolume(10));
    for (int32_t r = 55; r < 64; ++r) volumeColumn(p, r, chKick, slideVolumeUp(r < 60 ? 1 : 0));
    put(p, 56, chDrums, noteNumber("C-5"), bell, setVolume(20));
    put(p, 59, chDrums, noteNumber("A-4"), bell, setVolume(14), fxExtended, extNoteDelay | 3);
    put(p, 62, chDrums, noteNumber("E-4"), bell, setVolume(10));
    return p;
}

// ---- orders 4..6, pattern 1: the close, fading out by beat 144 (48 s), then a quiet coda.
Pattern composeClose() {
    Pattern p;
    const std::array<Chord, 3> closing = {chordF, chordG, chordAm};
    for (int32_t k = 0; k < 3; ++k) {
        const Chord& c = closing[static_cast<size_t>(k)];
        put(p, k * 8, chChords, noteNumber(c.root), chordInstrument(c), setVolume(26 - 2 * k));
        put(p, k * 8, chBass, noteNumber(c.bassRoot), bass, setVolume(26 - 2 * k));
    }
    for (int32_t r = 20; r < 32; ++r) effect(p, r, chChords, fxExtended, 0xB0 | 2); // fine slide
    put(p, 22, chBass, keyOff, 0);
    put(p, 0, chColour, noteNumber("C-5"), pad, setVolume(24));
    put(p, 8, chColour, noteNumber("B-4"), 0, 0, fxTonePorta, 0x04);
    put(p, 16, chColour, noteNumber("C-5"), 0, 0, fxTonePorta, 0x04);
    put(p, 24, chColour, keyOff, 0);
    put(p, 0, chKick, noteNumber("A-4"), choir, setVolume(20));
    put(p, 8, chKick, noteNumber("B-4"), 0, 0, fxTonePorta, 0x03);
    put(p, 16, chKick, noteNumber("A-4"), 0, 0, fxTonePorta, 0x03);
    put(p, 24, chKick, 0, 0, 0, fxKeyOff, 0);
    const std::array<std::pair<int32_t, const char*>, 9> echoes = {{{0, "A-5"},
                                                                    {3, "F-5"},
                                                                    {8, "B-5"},
                                                                    {11, "G-5"},
                                                                    {16, "C-6"},
                                                                    {19, "A-5"},
                                                                    {22, "E-5"},
                                                                    {26, "C-5"},
                                                                    {30, "A-4"}}};
    int32_t volume = 26;
    for (const auto& [row, name] : echoes) {
        put(p, row, chLead, noteNumber(name), bell, setVolume(volume), row % 2 ? fxExtended : 0,
            row % 2 ? (extNoteDelay | 2) : 0);
        volume = std::max(4, volume - 3);
    }
    // coda after the demo's end: a soft swell that leads back into this pattern's first chord
    put(p, 32, chChords, noteNumber(chordAm.root), chordMinor, setVolume(4));
    for (int32_t r = 33; r < 44; ++r)
        volumeColumn(p, r, chChords, slideVolumeUp(r % 3 == 0 ? 1 : 0));
    put(p, 48, chChords, noteNumber(chordF.root), chordMajor, setVolume(14));
    put(p, 60, chChords, keyOff, 0);
    put(p, 40, chKick, noteNumber("E-4"), choir, setVolume(12));
    put(p, 56, chKick, keyOff, 0);
    put(p, 36, chLead, noteNumber("E-5"), bell, setVolume(12));
    put(p, 44, chLead, noteNumber("C-5"), bell, setVolume(10));
    put(p, 52, chLead, noteNumber("A-4"), bell, setVolume(8));
    return p;
}

// ---- order 7, pattern 2: the groove comes back without the tune.
Pattern composeReprise() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, clap);
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        pumpingChord(p, bar, c);
        offbeatBass(p, bar, c, bar % 2 == 0);
        arpeggioBar(p, bar, c, 20);
        if (bar >= 4)
            melody(p, chLead, bar * rowsPerBar, lead, leadA[static_cast<size_t>(bar)]);
        else
            bellFigure(p, bar, {"E-5", "C-5", "A-4"}, 24);
    }
    return p;
}

// ---- order 8, pattern 7: a breakdown that rises back into the intro.
Pattern composeBreakdown() {
    Pattern p;
    for (int32_t bar = 0; bar < 8; ++bar) {
        const Chord& c = progressionA[static_cast<size_t>(bar % 4)];
        heldChord(p, bar, c, 26);
        put(p, bar * rowsPerBar, chBass, noteNumber(c.bassRoot), bass, setVolume(28));
        bellFigure(p, bar, {"A-5", "E-5", "C-5"}, 22);
    }
    put(p, 0, chColour, noteNumber("E-4"), pad, setVolume(26));
    put(p, 32, chColour, noteNumber("G-4"), 0, 0, fxTonePorta, 0x05);
    put(p, 60, chColour, keyOff, 0);
    put(p, 32, chKick, noteNumber("C-4"), riser, setVolume(24));
    for (int32_t r = 33; r < 64; ++r) volumeColumn(p, r, chKick, slideVolumeUp(r % 2));
    for (int32_t r = 48; r < 64; ++r) effect(p, r, chKick, fxExtended, extFinePortaUp | 1);
    put(p, 56, chDrums, noteNumber("C-4"), snare, setVolume(16), fxExtended, extRetrigger | 3);
    for (int32_t r = 57; r < 64; ++r)
        put(p, r, chDrums, noteNumber("C-4"), snare, setVolume(18 + 3 * (r - 56)), fxExtended,
            extRetrigger | (r < 60 ? 3 : 2));
    put(p, 63, chBass, keyOff, 0);
    put(p, 63, chChords, keyOff, 0);
    put(p, 62, chLead, 0, 0, 0, fxExtended, extNoteCut | 3);
    return p;
}

// Stored but not in the order list: loops to build the song from.
Pattern composeDrumLoop() {
    Pattern p;
    kicks(p, 0, 64);
    groove(p, 0, 8, true, snare);
    for (int32_t bar = 0; bar < 8; ++bar) offbeatBass(p, bar, progressionA[bar % 4], false);
    return p;
}

Pattern composeAmbient() {
    Pattern p;
    for (int32_t bar = 0; bar < 8; bar += 2) {
        const Chord& c = progressionA[static_cast<size_t>(bar / 2)];
        heldChord(p, bar, c, 20);
        put(p, bar * rowsPerBar, chKick, noteNumber("A-4"), choir, setVolume(16));
    }
    return p;
}

} // namespace

std::array<Pattern, storedPatternCount> composePatterns() {
    std::array<Pattern, storedPatternCount> patterns{};
    patterns[9] = composeOpening();
    patterns[4] = composeTheme();
    patterns[5] = composeSecondTheme(true);
    patterns[8] = composeClimax();
    patterns[1] = composeClose();
    patterns[2] = composeReprise();
    patterns[7] = composeBreakdown();
    patterns[0] = composeDrumLoop();
    patterns[3] = composeSecondTheme(false);
    patterns[6] = composeAmbient();
    patterns[10] = composeReprise();
    return patterns;
}

} // namespace gensong
