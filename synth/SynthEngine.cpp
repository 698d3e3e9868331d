#include "synth/SynthEngine.h"

#include <algorithm>
#include <cmath>

#include "synth/EngineRegistry.h"
#include "synth/MixTables.h"

namespace mevo {

namespace {

constexpr unsigned kDrumChannel = 9;
constexpr unsigned kLastMelodicBank = 9;
constexpr unsigned kLastDrumBank = 19;
constexpr std::uint8_t kFirstFmDrumKey = 13;
constexpr std::uint8_t kLastFmDrumKey = 91;
// Drum notes on the wave voice kept per channel; beyond this the oldest is forgotten, so a
// stream of note-ons without note-offs cannot grow the list without end.
constexpr std::size_t kMaxWaveNotes = 128;

bool isDrumBank(unsigned bank) {
    return bank >= kFirstDrumBank && bank <= kLastDrumBank;
}
bool isWaveDrumKey(unsigned key) {
    return key < kFirstFmDrumKey || key > kLastFmDrumKey;
}

ChannelState resetChannel(unsigned index) {
    ChannelState c;
    c.volume = 100;
    c.bank = index == kDrumChannel ? kFirstDrumBank : 0;
    return c;
}

}  // namespace

FmPitch pitchFor(unsigned key, int bend, unsigned bendRange) {
    const double frequency = 440.0 * std::exp2((double(key) - 69.0) / 12.0);
    const double bent = frequency * std::exp2(double(bendRange) * bend / 393216.0);
    // 21.098109 F-number units per Hz at block 0.
    const double scaled = bent * 21.098109;
    std::uint32_t n = scaled >= double(0x3FF00) ? 0x3FF00 : static_cast<std::uint32_t>(scaled);
    FmPitch pitch;
    while (n > 0x3FF) {
        n >>= 1;
        ++pitch.block;
    }
    pitch.fnumber = n;
    return pitch;
}

SynthEngine::SynthEngine() {
    voices_.loadBuiltInBanks();
    EngineRegistry::enter(this);
}

SynthEngine::~SynthEngine() {
    EngineRegistry::leave(this);
}

void SynthEngine::loadVoiceFiles() {
    voices_.loadAtStartUp(waves_);
}

void SynthEngine::headerReset() {
    eventCounter_ = 0;
    masterAttenuation_ = 0;
    stereo_ = 1;
    operatorsInUse_ = 0;
    allocationMode_ = 0;
    previousOperatorsInUse_ = 0;
}

void SynthEngine::resetChannels() {
    for (unsigned ch = 0; ch < kChannelCount; ++ch) {
        releaseChannel(ch);
        channels_[ch] = resetChannel(ch);
    }
}

void SynthEngine::startRealtime() {
    static constexpr std::uint8_t kDynamicAllocation[] = {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0B, 0x00, 0xF7};
    static constexpr std::uint8_t kMasterAttenuationZero[] = {0xF0, 0x43, 0x79, 0x05, 0x7F, 0x0A, 0x40, 0xF7};
    headerReset();
    resetChannels();
    // A preview starts from the state the engine had at load: slot stamps, voices' LFO phases,
    // envelopes and pending changes left by an earlier preview would otherwise change it.
    slots_ = {};
    fm_.reset();
    waves_.stopAll();
    dispatch(kDynamicAllocation);
    dispatch(kMasterAttenuationZero);
    for (unsigned ch = 0; ch < kChannelCount; ++ch) controller(ch, 120, 0);
}

void SynthEngine::stopRealtime() {
    for (unsigned ch = 0; ch < kChannelCount; ++ch) controller(ch, 120, 0);
    waves_.stopAll();
    fm_.clearAll();
}

void SynthEngine::render(std::int16_t* out, std::uint32_t frames) {
    fm_.render(out, frames);
    waves_.mix(out, frames);
}

void SynthEngine::dispatch(const std::uint8_t* message, std::size_t length) {
    if (!message || length == 0 || !(message[0] & 0x80)) return;
    const std::uint8_t status = message[0];
    if (status >= 0xF0) {
        systemMessage(message, length);
        return;
    }
    const std::uint8_t kind = status & 0xF0;
    const unsigned ch = status & 0x0F;
    const std::size_t needed = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    if (length < needed) return;
    const std::uint8_t data1 = message[1] & 0x7F;
    const std::uint8_t data2 = needed == 3 ? message[2] & 0x7F : 0;
    switch (kind) {
        case 0x80:
            noteOff(ch, data1);
            break;
        case 0x90:
            noteOn(ch, data1, data2);
            break;
        case 0xB0:
            controller(ch, data1, data2);
            break;
        case 0xC0:
            programChange(ch, data1);
            break;
        case 0xE0:
            pitchBend(ch, data1, data2);
            break;
        default:
            break;  // key and channel pressure
    }
}

Attenuation SynthEngine::attenuation(unsigned pan, unsigned volume, unsigned expression, unsigned velocity) const {
    const MixTables& t = mixTables();
    int v = t.level[volume & 0x7F];
    v = v > masterAttenuation_ ? v - masterAttenuation_ : 0;
    const int sum = v + t.level[expression & 0x7F] + t.level[velocity & 0x7F];
    const int left = t.panLeft[pan & 0x7F];
    const int right = t.panRight[pan & 0x7F];
    auto limited = [](int x) { return unsigned(std::min(x, int(kMaxGainIndex))); };
    if (stereo_) return {limited(sum + left), limited(sum + right)};
    const unsigned both = limited(sum + (left + right) / 2);
    return {both, both};
}

const VoiceRecord* SynthEngine::lookup(const ChannelState& c, unsigned key) {
    const bool drum = isDrumBank(c.bank);
    const VoiceRecord* voice = voices_.find(c.bank, drum ? key : c.program);
    if (!voice) return nullptr;
    if (voice->operatorCount == 0 && !(drum && isWaveDrumKey(key))) return nullptr;
    return voice;
}

void SynthEngine::addNote(ChannelState& c, const NoteNode& node) {
    if (node.slot == kWaveSlot && std::count_if(c.notes.begin(), c.notes.end(), [](const NoteNode& n) {
                                      return n.slot == kWaveSlot;
                                  }) >= std::ptrdiff_t(kMaxWaveNotes)) {
        c.notes.erase(
            std::find_if(c.notes.begin(), c.notes.end(), [](const NoteNode& n) { return n.slot == kWaveSlot; }));
    }
    c.notes.push_back(node);
}

void SynthEngine::noteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity) {
    if (ch >= kChannelCount) return;
    if (velocity == 0) {
        noteOff(ch, key);
        return;
    }
    ++eventCounter_;
    if (channels_[ch].mono())
        monoNoteOn(ch, key, velocity);
    else
        polyNoteOn(ch, key, velocity);
}

void SynthEngine::monoNoteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity) {
    ChannelState& c = channels_[ch];
    if (isDrumBank(c.bank)) {
        if (!isWaveDrumKey(key) || !c.notes.empty()) return;
        const VoiceRecord* voice = lookup(c, key);
        if (!voice) return;
        addNote(c, {key, velocity, kWaveSlot, 1, voice});
        setWaveGain(c, velocity);
        waves_.startOrNest(voice->waveId);
        return;
    }
    if (!c.notes.empty()) {
        // Legato: the sounding note takes the new key without a new attack.
        NoteNode& node = c.notes.back();
        node.holdCount = static_cast<std::uint8_t>(std::min(node.holdCount + 1, 255));
        node.key = key;
        node.velocity = velocity;
        if (node.slot != kWaveSlot) {
            VoiceSlot& s = slots_[node.slot];
            s.stamp = eventCounter_;
            s.velocity = velocity;
            s.key = key;
            applyGain(node.slot);
            applyPitch(node.slot);
        }
        return;
    }
    const unsigned ops = c.programOperators;
    if (ops == 0) return;
    // Looked up before a slot is taken, so a missing voice never leaves a note without a voice.
    const VoiceRecord* voice = lookup(c, key);
    if (!voice) return;
    const std::uint8_t slot = allocationMode_ == 1 ? std::uint8_t(ch) : allocateWithoutStealing(ops);
    if (slot == kNoSlot) return;
    if (slots_[slot].busy) releaseSlotOwner(slot);
    addNote(c, {key, velocity, slot, 1, voice});
    c.soundingNotes = 1;
    fillSlot(slot, ch, *voice, ops, velocity, key);
}

void SynthEngine::polyNoteOn(unsigned ch, std::uint8_t key, std::uint8_t velocity) {
    ChannelState& c = channels_[ch];
    if (c.bank > kLastDrumBank) return;  // user banks play in mono mode only
    const VoiceRecord* voice = lookup(c, key);
    if (!voice) return;
    std::uint8_t pitchKey = key;
    if (isDrumBank(c.bank)) {
        if (isWaveDrumKey(key)) {
            addNote(c, {key, velocity, kWaveSlot, 0, voice});
            setWaveGain(c, velocity);
            waves_.restart(voice->waveId);
            return;
        }
        pitchKey = voice->drumKey & 0x7F;
    }
    const unsigned ops = voice->operatorCount;
    const std::uint8_t slot = allocateWithStealing(ops);
    if (slot == kNoSlot) return;
    addNote(c, {key, velocity, slot, 0, voice});
    ++c.soundingNotes;
    fillSlot(slot, ch, *voice, ops, velocity, pitchKey);
}

void SynthEngine::fillSlot(std::uint8_t slot, unsigned ch, const VoiceRecord& voice, unsigned ops,
                           std::uint8_t velocity, std::uint8_t pitchKey) {
    VoiceSlot& s = slots_[slot];
    s.voice = &voice;
    s.busy = s.operators = static_cast<std::uint8_t>(ops);
    s.stamp = eventCounter_;
    s.velocity = velocity;
    s.key = pitchKey;
    s.channel = static_cast<std::uint8_t>(ch);
    previousOperatorsInUse_ = operatorsInUse_;
    operatorsInUse_ = static_cast<std::uint8_t>(operatorsInUse_ + ops);
    fm_.loadVoice(slot, voice);
    fm_.setModulationDepth(slot, channels_[ch].modulationDepth);
    applyGain(slot);
    applyPitch(slot);
    fm_.keyOn(slot);
}

void SynthEngine::noteOff(unsigned ch, std::uint8_t key) {
    if (ch >= kChannelCount) return;
    ++eventCounter_;
    ChannelState& c = channels_[ch];
    if (c.notes.empty()) return;
    if (c.mono()) {
        NoteNode& node = c.notes.back();
        if (node.holdCount > 1) {
            --node.holdCount;
            return;
        }
        releaseChannel(ch);
        return;
    }
    auto it = std::find_if(c.notes.rbegin(), c.notes.rend(), [key](const NoteNode& n) { return n.key == key; });
    if (it == c.notes.rend()) return;
    const std::uint8_t slot = it->slot;
    c.notes.erase(std::next(it).base());
    if (slot == kWaveSlot) {
        waves_.stopWave();
        return;
    }
    fm_.keyOff(slot);
    if (c.soundingNotes) --c.soundingNotes;
    freeSlot(slot);
}

// Every note of the channel ends: FM slots key off and are given back with their operators,
// wave notes end one start of the wave voice.
void SynthEngine::releaseChannel(unsigned ch) {
    ChannelState& c = channels_[ch];
    for (const NoteNode& node : c.notes) {
        if (node.slot == kWaveSlot) {
            waves_.stopWave();
        } else {
            fm_.keyOff(node.slot);
            freeSlot(node.slot);
        }
    }
    c.notes.clear();
    c.soundingNotes = 0;
}

void SynthEngine::freeSlot(std::uint8_t slot) {
    VoiceSlot& s = slots_[slot];
    operatorsInUse_ = static_cast<std::uint8_t>(operatorsInUse_ > s.operators ? operatorsInUse_ - s.operators : 0);
    s.busy = 0;
    s.stamp = eventCounter_;
}

bool SynthEngine::fourOperatorRefused(unsigned ops) const {
    return ops == 4 && operatorsInUse_ + 6u > kOperatorBudget && previousOperatorsInUse_ + 4u > kOperatorBudget;
}

std::uint8_t SynthEngine::freeSlotWithOldestStamp() const {
    std::uint8_t best = kNoSlot;
    for (std::uint8_t i = 0; i < kVoiceCount; ++i)
        if (!slots_[i].busy && (best == kNoSlot || slots_[i].stamp < slots_[best].stamp)) best = i;
    return best;
}

std::uint8_t SynthEngine::allocateWithoutStealing(unsigned ops) const {
    if (ops + operatorsInUse_ > kOperatorBudget || fourOperatorRefused(ops)) return kNoSlot;
    return freeSlotWithOldestStamp();
}

std::uint8_t SynthEngine::allocateWithStealing(unsigned ops) {
    if (fourOperatorRefused(ops)) return kNoSlot;
    std::uint8_t slot = freeSlotWithOldestStamp();
    if (slot != kNoSlot) return slot;
    slot = 0;
    for (std::uint8_t i = 1; i < kVoiceCount; ++i)
        if (slots_[i].stamp < slots_[slot].stamp) slot = i;
    ++eventCounter_;  // the steal is a note-off
    releaseSlotOwner(slot);
    return slot;
}

// Releases the note that owns `slot` directly, so its operators are given back exactly once.
void SynthEngine::releaseSlotOwner(std::uint8_t slot) {
    ChannelState& c = channels_[slots_[slot].channel];
    auto it = std::find_if(c.notes.begin(), c.notes.end(), [slot](const NoteNode& n) { return n.slot == slot; });
    if (it != c.notes.end()) {
        c.notes.erase(it);
        if (c.soundingNotes) --c.soundingNotes;
    }
    fm_.keyOff(slot);
    freeSlot(slot);
}

void SynthEngine::applyGain(std::uint8_t slot) {
    const VoiceSlot& s = slots_[slot];
    const ChannelState& c = channels_[s.channel];
    const Attenuation a = attenuation(c.pan, c.volume, c.expression, s.velocity);
    fm_.setGain(slot, a.left, a.right);
}

void SynthEngine::applyPitch(std::uint8_t slot) {
    const VoiceSlot& s = slots_[slot];
    const ChannelState& c = channels_[s.channel];
    const FmPitch p = pitchFor(s.key, c.bend, c.bendRange);
    fm_.setPitch(slot, p.block, p.fnumber);
}

void SynthEngine::setWaveGain(const ChannelState& c, std::uint8_t velocity) {
    waves_.setGain(attenuation(c.pan, c.volume, c.expression, velocity).right);
}

void SynthEngine::refreshChannelGains(unsigned ch) {
    for (std::uint8_t i = 0; i < kVoiceCount; ++i)
        if (slots_[i].channel == ch) applyGain(i);
    const ChannelState& c = channels_[ch];
    for (const NoteNode& node : c.notes)
        if (node.slot == kWaveSlot) setWaveGain(c, node.velocity);
}

void SynthEngine::controller(unsigned ch, std::uint8_t number, std::uint8_t value) {
    ChannelState& c = channels_[ch];
    switch (number) {
        case 0:
            c.bankMsb = value;
            resolveBank(ch);
            break;
        case 32:
            c.bankLsb = value;
            resolveBank(ch);
            break;
        case 1:
            c.modulationDepth = value == 0 ? 0 : static_cast<std::uint8_t>(value / 32 + 1);
            for (std::uint8_t i = 0; i < kVoiceCount; ++i)
                if (slots_[i].channel == ch) fm_.setModulationDepth(i, c.modulationDepth);
            break;
        case 6:
            if (c.rpnMsb + c.rpnLsb + c.nrpnSelected == 0) c.bendRange = value;
            break;
        case 7:
            c.volume = value;
            refreshChannelGains(ch);
            break;
        case 10:
            c.pan = value;
            refreshChannelGains(ch);
            break;
        case 11:
            c.expression = value;
            refreshChannelGains(ch);
            break;
        case 55:
            c.mode = value;
            break;
        case 98:
        case 99:
            c.nrpnSelected = 1;
            break;
        case 100:
            c.nrpnSelected = 0;
            c.rpnLsb = value;
            break;
        case 101:
            c.nrpnSelected = 0;
            c.rpnMsb = value;
            break;
        case 120:
        case 123:
            releaseChannel(ch);
            break;
        default:
            break;
    }
}

void SynthEngine::programChange(unsigned ch, std::uint8_t program) {
    channels_[ch].program = program;
    resolveBank(ch);
}

void SynthEngine::pitchBend(unsigned ch, std::uint8_t lsb, std::uint8_t msb) {
    channels_[ch].bend = static_cast<std::int16_t>(((msb << 7) | lsb) * 4 - 32768);
    for (std::uint8_t i = 0; i < kVoiceCount; ++i)
        if (slots_[i].channel == ch) applyPitch(i);
}

void SynthEngine::resolveBank(unsigned ch) {
    ChannelState& c = channels_[ch];
    unsigned bank = 0;
    if (c.bankMsb == 0 && c.bankLsb == 0)
        bank = ch == kDrumChannel ? kFirstDrumBank : 0;
    else if (c.bankMsb == 122 && c.bankLsb <= kLastMelodicBank)
        bank = c.bankLsb;
    else if (c.bankMsb == 123 && c.bankLsb == 0)
        bank = c.program <= 9 ? c.program + kFirstDrumBank : kFirstDrumBank;
    else if (c.bankMsb == 124 && c.bankLsb <= kLastDrumBank)
        bank = c.bankLsb + kUserMelodicBank;
    c.bank = static_cast<std::uint8_t>(bank);
    const VoiceRecord* voice = voices_.find(c.bank, c.program);
    c.programOperators = voice ? voice->operatorCount : 0;
}

}  // namespace mevo
