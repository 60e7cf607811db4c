// Every rule in which the two replay profiles differ, one row each: the rule as FT2 has it,
// then REPLAY_SWITCH(name, its value in the demo profile, its value in the ft2 profile).
// Included where REPLAY_SWITCH is defined: the ReplayProfile record takes a field per row and
// both fixed profiles their values, so a switch is written once.

// FT2: panning 0 is the left output and 255 the right, as the file format names them.
REPLAY_SWITCH(panningZeroIsLeft, false, true)

// FT2: a tick lasts (rate x 5 / 2) / BPM whole frames in integer arithmetic; the fraction is
// dropped on every tick, nothing is carried.
REPLAY_SWITCH(wholeFrameTickLength, false, true)

// FT2: volume-column 6x, 7x, Bx, Dx, Ex and Fx do nothing on the row tick; Ax, Bx keep
// their memory on 0; Dx and Ex clamp to 0..255 (D0 sets 0).
REPLAY_SWITCH(volumeColumnSlidesSkipRowTick, false, true)

// FT2: volume-column Fx is a tone portamento: the row's note becomes the slide target.
REPLAY_SWITCH(volumeColumnTonePortamento, false, true)

// FT2: Kxx releases the note on tick xx of the row; K00 on the row tick skips its note.
REPLAY_SWITCH(keyOffAtTick, false, true)

// FT2: the arpeggio reads its table with a tick counter that runs down from the speed, and
// the table is 16 entries long with FT2's following bytes behind it.
REPLAY_SWITCH(arpeggioCountsDown, false, true)

// FT2: arpeggio notes are snapped to the note table from the period playing.
REPLAY_SWITCH(arpeggioFromNoteTable, false, true)

// FT2: a release without volume envelope sets the channel volume to 0, so a later volume
// command is heard again; a key-off note with an instrument resets only volume and panning.
REPLAY_SWITCH(keyOffZeroesVolume, false, true)

// FT2: a volume or panning envelope of one point stays on and holds that point's value.
REPLAY_SWITCH(onePointEnvelopes, false, true)

// FT2: the panning envelope's offset is (E - 32) x (128 - |P - 128|) / 32, rounded down,
// without truncating the scale first.
REPLAY_SWITCH(panningEnvelopeScaleExact, false, true)

// FT2: E5y sets finetune y x 16 - 128 for the note in its own cell only.
REPLAY_SWITCH(finetuneForNoteOnly, false, true)

// FT2: after a pattern loop the next pattern starts at the loop's row (a pattern loop jump
// is a pattern break whose row stays pending until a pattern change, B and D included).
REPLAY_SWITCH(patternLoopSetsBreakRow, false, true)

// FT2: voice levels keep 8 more fractional bits, so quiet notes are not truncated away.
REPLAY_SWITCH(fineVoiceLevels, false, true)

// FT2: auto-vibrato advances its phase before reading it, sweeps its amplitude in by
// (depth << 8) / sweep per tick, holds it after key-off, and moves the period the way FT2's
// waves do.
REPLAY_SWITCH(autoVibratoFt2, false, true)

// FT2: G and H reach every channel from the one carrying them rightwards on the same tick;
// a row tick does not refresh a channel's volume by itself.
REPLAY_SWITCH(globalVolumeFt2Timing, false, true)

// FT2: notes use a sample's finetune in steps of 1/16 semitone (low three bits dropped).
REPLAY_SWITCH(finetuneSixteenthSteps, false, true)

// FT2: on the row tick of a continued vibrato the last vibrato pitch stays.
REPLAY_SWITCH(vibratoHoldsOnRowTick, false, true)

// FT2: the vibrato offset keeps its low bits ((depth x amplitude) >> 5) and its first half
// lowers the pitch on the Amiga table as on the linear one.
REPLAY_SWITCH(vibratoFt2Depth, false, true)

// FT2: an instrument number takes effect with the next note; without a note it resets volume,
// panning and envelopes of the instrument and sample already playing.
REPLAY_SWITCH(instrumentWaitsForNote, false, true)

// FT2: 9xx acts only with a note (its memory too), and an offset at or past the sample's end
// (its loop end when it loops) leaves the note silent.
REPLAY_SWITCH(sampleOffsetWithNoteOnly, false, true)

// FT2: tremor counts only on the other ticks; the row tick keeps the last tick's muting.
REPLAY_SWITCH(tremorSkipsRowTick, false, true)

// FT2: EAy and EBy keep a memory each, and every channel keeps its own Hxy memory.
REPLAY_SWITCH(separateSlideMemories, false, true)

// FT2: a delayed note without instrument number keeps the channel's volume and panning, and
// of its volume column only set-volume and set-panning are taken.
REPLAY_SWITCH(noteDelayKeepsVolume, false, true)

// FT2: E3y (y not 0) makes tone portamentos on the linear table sound in whole semitones.
REPLAY_SWITCH(glissando, false, true)

// FT2: F00 sets a speed of 0, from which its tick counter runs down through zero and wraps:
// every row then lasts 65536 ticks, so the song stays where it is.
REPLAY_SWITCH(speedZeroHoldsRow, false, true)

// FT2: EC0 cuts the note on the row tick.
REPLAY_SWITCH(noteCutZeroOnRowTick, false, true)

// FT2: an instrument number above 128 is ignored; one naming no instrument (or one without
// samples) plays FT2's placeholder, silent at volume 0 and centred; a note mapped to a sample
// an instrument lacks plays silently at volume 64, centred.
REPLAY_SWITCH(ft2MissingInstruments, false, true)

// FT2: an instrument reset starts a volume or panning envelope over only when the playing
// instrument has that envelope on; otherwise its position stays, and a later note of an
// instrument that has it goes on from there.
REPLAY_SWITCH(envelopeResetNeedsEnvelope, false, true)

// FT2: ED0 delays nothing (the row plays as without it); a delayed key-off releases on its
// tick and then starts the instrument's envelopes and fadeout over, unreleased, without a
// new note.
REPLAY_SWITCH(noteDelayEdgesFt2, false, true)

// FT2: a channel the tremor left muted stays silent after the effect ends, until a volume
// command, volume slide, retrig, tremolo, note cut or instrument number sets its volume.
REPLAY_SWITCH(tremorMuteOutlasts, false, true)

// FT2: on the other ticks envelopes and fadeout run after the effects, so what a note delay
// starts or Kxx releases takes its first envelope or fadeout step on that same tick.
REPLAY_SWITCH(envelopesAfterEffects, false, true)

// FT2: the fadeout speed is taken from the instrument playing at an instrument reset and kept
// until the next one, even when a later note plays another instrument.
REPLAY_SWITCH(fadeoutSpeedAtReset, false, true)

// FT2: an envelope loop that ends on the sustain point is left once the note is released.
REPLAY_SWITCH(releaseLeavesSustainLoop, false, true)

// FT2: during a pattern delay E9y, ECy and EDy count their ticks within each repeat of the
// row, so a delayed note starts again in every repeat.
REPLAY_SWITCH(rowRepeatsRestartTickCount, false, true)

// FT2: a voice's level is shared between the sides by square roots of panning / 256, each
// rounded to 16 fractional bits (a centred voice is 3 dB louder than with linear shares).
REPLAY_SWITCH(squareRootPanning, false, true)

// FT2: on the Amiga table notes take their periods from FT2's own table (finetune in 1/16
// semitones), and the arpeggio and glissando snap to that table's notes.
REPLAY_SWITCH(ft2AmigaPeriodTable, false, true)

// FT2: Cxx above 64 sets the volume to 64.
REPLAY_SWITCH(volumeCommandCapped, false, true)

// FT2: the voice's step is FT2's own 16.16 step at 44000 Hz, made from the period without
// whole hertz in between (8363 x 1712 / period on the Amiga table), with 0 Hz for period 0.
REPLAY_SWITCH(ft2VoiceStep, false, true)

// FT2: a tone portamento goes the way decided when a note set its target (nowhere if the
// note was already there), and once it has arrived it only moves towards longer periods.
REPLAY_SWITCH(tonePortamentoDirection, false, true)

// FT2: a retrigger plays the note's own period again; E9y (y not 0) also starts the
// instrument over as an instrument number does (envelopes, fadeout, auto-vibrato, key-off)
// but keeps the volume and panning; E90 retriggers on the row tick, the last note when the
// row has none; an E90 row's note starts even under a volume-column Fx, which then slides
// only on the other ticks, towards the target it had.
REPLAY_SWITCH(retriggerRestartsInstrument, false, true)

// FT2: a note that its sample's relative note pushes past B-9 or below B-(-1) does not start
// (the playing note goes on), and an instrument number with it brings back the volume and
// panning of the sample last started; one landing on B-(-1) starts at the period playing.
REPLAY_SWITCH(notesOutOfRangeIgnored, false, true)

// FT2: Rxy retriggers when its own tick counter, restarted only by an instrument reset,
// reaches y; the counter runs on across rows and counts the row tick too unless the volume
// column leaves a value there. x and y keep a memory each, mode 6 is v/2 + v/8 + v/16, and
// after the volume change the row's volume column sets the volume or panning again.
REPLAY_SWITCH(multiRetrigCounts, false, true)

// FT2: Lxx puts the envelope where tick xx begins and takes the row tick's step from there,
// so a position on a loop end loops at once; it moves the panning envelope too, but only when
// the volume envelope has its sustain bit set.
REPLAY_SWITCH(envelopePositionFt2, false, true)

// FT2: a retrigger (E9y, Rxy) or a delayed note starts the channel's last note number with the
// last instrument number written, whatever plays; the period comes anew from that sample's own
// relative note and finetune, so E5y and a tone portamento's target are forgotten.
REPLAY_SWITCH(retriggerLastInstrument, false, true)

// FT2: vibrato and tremolo read FT2's own sine table, 255 x sin rounded down (24 where the
// demo's rule gives 25), instead of 256 x |sin|.
REPLAY_SWITCH(ft2SineTable, false, true)

// FT2: the tremolo's ramp takes its sign from the vibrato's phase, and its waveform 3 is a
// square (the demo reads it as a sine).
REPLAY_SWITCH(tremoloFt2Waves, false, true)

// FT2: the song ends after the tick that reads F00, as FT2's own render ends it there (its
// replayer would hold that row for good); for the duration, the end rule and tick traces.
REPLAY_SWITCH(speedZeroEndsSong, false, true)

// FT2: a row with EDx (x > 0) only stores its cell on the row tick: the playing note with its
// envelopes, fadeout and auto-vibrato runs on, the volume column's slides, vibrato and Fx act
// on every other tick, and on tick x the cell's note (or the last one) starts with the last
// instrument number; a delayed key-off's volume-column panning is not pushed to the voice.
REPLAY_SWITCH(noteDelayStoresCell, false, true)

// FT2: a key-off releases a panning envelope only if it has not yet reached its sustain
// point; one already held there stays held (FT2 pulls only the volume envelope back).
REPLAY_SWITCH(panningSustainOutlastsRelease, false, true)

// FT2: the tremor turns between its heard and muted phases by a countdown that runs on across
// rows and parameter changes, each turn taking the x or y of its tick; T00 with no memory
// turns on every tick.
REPLAY_SWITCH(tremorFt2Phases, false, true)

// FT2: the pitch an effect leaves (vibrato, arpeggio, glissando, either column) stays on the
// following ticks and rows until something sets it anew: a note start, a portamento, or the
// row after an arpeggio or after a vibrato the row does not continue. 4xy takes its speed and
// depth on the other ticks, after the volume column's vibrato of the same tick.
REPLAY_SWITCH(periodOffsetPersists, false, true)

// FT2: the finetune a note starts with (its sample's, or E5y's of its cell) stays with the
// channel until the next note starts: tone-portamento targets, arpeggio and glissando use it.
REPLAY_SWITCH(channelKeepsFinetune, false, true)

// FT2: a volume-column Fx in a cell with 3xx or 5xy sets the portamento speed (x times 64);
// 3xx's own speed is then not taken, and both slide on every other tick.
REPLAY_SWITCH(volumeColumnPortamentoFirst, false, true)

// FT2: an instrument number on a channel where no note has started yet sets volume 0 and
// centre panning (FT2 takes both from the sample last started, and there is none).
REPLAY_SWITCH(instrumentBeforeNoteSilent, false, true)

// FT2: a voice's volume and panning changes ramp over the whole tick, a quick change (note
// start, set volume, note cut, key-off cut, tremor, an instrument's volume) and the fade of
// a replaced note over rate / 200 frames; the demo ramps every change over 128 frames.
REPLAY_SWITCH(ft2VolumeRamps, false, true)

// FT2: an envelope's level is an unsigned 8.8 number checked after each step between points:
// above 64 it plays 0, and a level that fell below 0 (wrapped past 128) plays 64; either way
// the slope stops there. A segment whose next point does not lie later is not slid along.
REPLAY_SWITCH(envelopeFt2Range, false, true)

// FT2: an instrument whose envelope is off plays at full volume and at the channel's own
// panning, whatever an earlier instrument's envelope left behind on the channel.
REPLAY_SWITCH(envelopeOffIsNeutral, false, true)

// FT2: a channel starts the song with no instrument, so an instrument number without a note
// resets nothing, and with its envelope counters one tick on, as if the start of an envelope
// had already passed: an envelope that no instrument number has reset never reaches its first
// point, and stays at level 0.
REPLAY_SWITCH(freshChannelFt2, false, true)
