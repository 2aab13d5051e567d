// A shared library loaded at run time: open by path, look a symbol up by name, close. The plug-in's
// tests and the substitute host load the plug-in through it.
#pragma once

#include <string>

namespace platform {

// The folder of the running program's file, without a trailing separator; "." when it cannot be told.
std::string RunningProgramFolder();
// The file name of the library `name` as this platform spells it ("libname.so", "name.dll").
std::string SharedLibraryFileName(const std::string& name);

class SharedLibrary {
public:
    SharedLibrary() = default;
    // Opens the library at `path` at once, resolving all its references (IsLoaded tells the outcome).
    explicit SharedLibrary(const std::string& path);
    // Closes the library if one is open.
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Closes any open library, then opens `path`; false (with Error set) when it cannot be loaded.
    bool Open(const std::string& path);
    void Close();
    bool IsLoaded() const { return handle_ != nullptr; }
    // The address of the exported symbol `name`, or null (also when no library is open).
    void* Symbol(const char* name) const;
    // The platform's text for the last failure of Open, empty after a success.
    const std::string& Error() const { return error_; }

    // Whether the library at `path` is loaded in this process (whoever loaded it), without loading it.
    static bool LoadedInProcess(const std::string& path);

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace platform
