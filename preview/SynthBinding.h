#pragma once

#include <string>

#include "preview/SynthPort.h"
#include "synth/Mevo22kApi.h"

namespace tonaro {

// File name of the synthesizer library, looked for first in the program's own folder.
inline constexpr const char* kSynthLibraryName = "libmevo22k.so";
// What the program and the command line say when the library cannot be loaded (string 131).
inline constexpr const char* kSynthMissingMessage = "MEVO22K.DLL is not found.";

// Loads the synthesizer library at run time and resolves its eleven exports by name. Only the
// real-time exports are called; the rest are resolved for completeness.
class CSynthBinding : public CSynthPort {
public:
    // Loads kSynthLibraryName from the program's folder, else through the loader's search path.
    CSynthBinding();
    // Loads the library at exactly `path` (tests, and hosts that keep it elsewhere).
    explicit CSynthBinding(const std::string& path);
    ~CSynthBinding() override;
    CSynthBinding(const CSynthBinding&) = delete;
    CSynthBinding& operator=(const CSynthBinding&) = delete;

    // 1 once the library was loaded, whether or not every export was found.
    int IsLoaded() const { return loaded_; }
    // Loaded with every real-time export the preview calls. The whole-song exports are optional
    // until the library provides them; nothing in the program calls them.
    bool HasRealtimeExports() const { return rtGenerate_ && rtWriteMessage_ && rtStart_ && rtStop_; }

    uint32_t Render(void* buffer, uint32_t frames) override;
    int WriteMessage(const uint8_t* message, uint32_t length) override;
    void StartRealtime();
    void StopRealtime();

private:
    void Bind(void* module);

    void* module_ = nullptr;
    int loaded_ = 0;
    SetRepeatFn setRepeat_ = nullptr;
    SendDataFn sendData_ = nullptr;
    FixDataFn fixData_ = nullptr;
    GenerateFn generate_ = nullptr;
    SeekFn seek_ = nullptr;
    RtGenerateFn rtGenerate_ = nullptr;
    RtWriteMessageFn rtWriteMessage_ = nullptr;
    RtStartFn rtStart_ = nullptr;
    RtStopFn rtStop_ = nullptr;
    RtRegWaveFn rtRegWave_ = nullptr;
    RtDelWaveFn rtDelWave_ = nullptr;
};

}  // namespace tonaro
