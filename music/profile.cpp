// The two fixed replay profiles.
#include "profile.h"

#include "module.h"

#include <cstring>

namespace music {

namespace {

constexpr ReplayProfile makeDemoProfile() {
    ReplayProfile p{};
    p.id = ProfileId::Demo;
    return p;
}

constexpr ReplayProfile demoProfile = makeDemoProfile();

constexpr ReplayProfile makeFt2Profile() {
    ReplayProfile p{};
    p.id = ProfileId::Ft2;
    p.panningZeroIsLeft = true;
    p.wholeFrameTickLength = true;
    p.volumeColumnSlidesSkipRowTick = true;
    p.volumeColumnTonePortamento = true;
    p.keyOffAtTick = true;
    p.arpeggioCountsDown = true;
    p.arpeggioFromNoteTable = true;
    p.keyOffZeroesVolume = true;
    p.onePointEnvelopes = true;
    p.panningEnvelopeScaleExact = true;
    p.finetuneForNoteOnly = true;
    p.patternLoopSetsBreakRow = true;
    p.fineVoiceLevels = true;
    p.autoVibratoFt2 = true;
    p.globalVolumeFt2Timing = true;
    p.finetuneSixteenthSteps = true;
    p.vibratoHoldsOnRowTick = true;
    p.vibratoFt2Depth = true;
    p.instrumentWaitsForNote = true;
    p.sampleOffsetWithNoteOnly = true;
    p.tremorSkipsRowTick = true;
    p.separateSlideMemories = true;
    p.noteDelayKeepsVolume = true;
    p.glissando = true;
    p.speedZeroHoldsRow = true;
    p.noteCutZeroOnRowTick = true;
    p.ft2MissingInstruments = true;
    p.envelopeResetNeedsEnvelope = true;
    p.noteDelayEdgesFt2 = true;
    p.tremorMuteOutlasts = true;
    p.envelopesAfterEffects = true;
    p.fadeoutSpeedAtReset = true;
    p.releaseLeavesSustainLoop = true;
    p.rowRepeatsRestartTickCount = true;
    p.squareRootPanning = true;
    p.ft2AmigaPeriodTable = true;
    p.volumeCommandCapped = true;
    p.ft2VoiceStep = true;
    p.tonePortamentoDirection = true;
    p.retriggerRestartsInstrument = true;
    p.notesOutOfRangeIgnored = true;
    p.multiRetrigCounts = true;
    p.envelopePositionFt2 = true;
    p.retriggerLastInstrument = true;
    p.ft2SineTable = true;
    p.tremoloFt2Waves = true;
    p.speedZeroEndsSong = true;
    p.noteDelayStoresCell = true;
    p.panningSustainOutlastsRelease = true;
    p.tremorFt2Phases = true;
    p.periodOffsetPersists = true;
    p.channelKeepsFinetune = true;
    p.volumeColumnPortamentoFirst = true;
    p.instrumentBeforeNoteSilent = true;
    p.ft2VolumeRamps = true;
    p.envelopeFt2Range = true;
    p.envelopeOffIsNeutral = true;
    p.freshChannelFt2 = true;
    return p;
}

constexpr ReplayProfile ft2Profile = makeFt2Profile();

} // namespace

const ReplayProfile* replayProfile(ProfileId id) {
    return id == ProfileId::Ft2 ? &ft2Profile : &demoProfile;
}

bool parseProfileName(const char* name, ProfileId* id) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "demo") == 0) {
        *id = ProfileId::Demo;
        return true;
    }
    if (std::strcmp(name, "ft2") == 0) {
        *id = ProfileId::Ft2;
        return true;
    }
    return false;
}

void setReplayProfile(Player* player, ProfileId id) {
    if (player != nullptr) player->profile = replayProfile(id);
}

const char* profileName(ProfileId id) {
    return id == ProfileId::Ft2 ? "ft2" : "demo";
}

} // namespace music
