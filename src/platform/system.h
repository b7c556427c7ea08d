// System services the core needs: time, sleeping, the module's own path,
// file times and text conversions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zan {

// Millisecond tick count; wraps around like a 32-bit counter.
uint32_t TickCount();
void SleepMs(uint32_t ms);

// Full path of the loaded module (the shared library holding the core), UTF-8.
std::string ModulePath();

// Last-write time of a file with the platform's full resolution, or nothing
// when the file does not exist or cannot be queried.
std::optional<int64_t> FileLastWriteTime(const std::u16string& name);

// Whether two file names as a host passes them name the same file by the
// file system's letter-case rules: exact on POSIX systems (names differing
// only in case are different files), case-insensitive by the user locale on
// Windows.
bool SameFileName(const std::u16string& a, const std::u16string& b);

// An environment variable of this process, or nothing when it is unset.
std::optional<std::string> EnvironmentValue(const std::string& name);
// Sets a variable for this process and the modules it loads afterwards.
void SetEnvironmentValue(const std::string& name, const std::string& value);
// Removes a variable from this process's environment.
void UnsetEnvironmentValue(const std::string& name);

// UTF-16 <-> UTF-8. Invalid sequences become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
// The system ANSI code page to UTF-16 (UTF-8 on POSIX systems).
std::u16string AnsiToUtf16(const char* text);

// First character of the locale's decimal separator ("." when unknown),
// asked once per process.
char LocaleDecimalSeparator();

// Tells the user of a fault that no export can answer (the module's unload
// report): a message box with an error icon on Windows, which a console host
// also gets as a line on its standard error; a line "caption: text" on
// standard error elsewhere.
void ShowErrorMessage(const std::string& caption, const std::string& text);

// Whether the system offers alpha blending of bitmaps. On POSIX systems our
// GDI stand-in always blends; on Windows this probes the system library.
bool SystemHasAlphaBlend();

}  // namespace zan
