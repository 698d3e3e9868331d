#include "preview/SynthBinding.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace tonaro {

namespace {

void* OpenLibrary(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string ProgramFolder() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}

template <typename Fn>
void Resolve(void* module, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(dlsym(module, name));
}

}  // namespace

CSynthBinding::CSynthBinding() {
    const std::string folder = ProgramFolder();
    void* module = folder.empty() ? nullptr : OpenLibrary(folder + "/" + kSynthLibraryName);
    if (!module) module = OpenLibrary(kSynthLibraryName);
    Bind(module);
}

CSynthBinding::CSynthBinding(const std::string& path) {
    Bind(OpenLibrary(path));
}

CSynthBinding::~CSynthBinding() {
    if (module_) dlclose(module_);
    module_ = nullptr;
}

void CSynthBinding::Bind(void* module) {
    if (!module) return;
    module_ = module;
    Resolve(module, "SetRepeat", setRepeat_);
    Resolve(module, "SendData", sendData_);
    Resolve(module, "FixData", fixData_);
    Resolve(module, "Generate", generate_);
    Resolve(module, "Seek", seek_);
    Resolve(module, "RtGenerate", rtGenerate_);
    Resolve(module, "RtWriteMessage", rtWriteMessage_);
    Resolve(module, "RtStart", rtStart_);
    Resolve(module, "RtStop", rtStop_);
    Resolve(module, "RtRegWave", rtRegWave_);
    Resolve(module, "RtDelWave", rtDelWave_);
    loaded_ = 1;
}

uint32_t CSynthBinding::Render(void* buffer, uint32_t frames) {
    if (!rtGenerate_ || !buffer || frames == 0) return 0;
    return static_cast<uint32_t>(rtGenerate_(buffer, frames));
}

int CSynthBinding::WriteMessage(const uint8_t* message, uint32_t length) {
    return rtWriteMessage_ ? rtWriteMessage_(message, length) : 0;
}

void CSynthBinding::StartRealtime() {
    if (rtStart_) rtStart_();
}

void CSynthBinding::StopRealtime() {
    if (rtStop_) rtStop_();
}

}  // namespace tonaro
