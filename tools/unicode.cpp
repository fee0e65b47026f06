#include "unicode.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace sidtune {

#if defined(_WIN32)

namespace {

std::string utf8OfWide(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// `text` in the ANSI code page; false when the code page has no letter for one of its characters.
bool ansiOf(const std::wstring& text, std::string& out) {
    BOOL lost = FALSE;
    const int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lost);
    if (n <= 0 || lost) return false;
    out.assign(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, out.data(), n, nullptr, &lost);
    out.resize(out.size() - 1);
    return !lost;
}

}  // namespace

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) {
        texts.assign(argv, argv + argc);
    } else {
        for (int i = 0; i < n; ++i) texts.push_back(utf8OfWide(wide[i]));
        LocalFree(wide);
    }
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0) SetConsoleOutputCP(CP_UTF8);
}

Utf8Arguments::~Utf8Arguments() {
    if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

std::string hostFileName(const std::string& text) {
    const std::wstring name = pathOf(text).wstring();
    std::string ansi;
    if (ansiOf(name, ansi)) return ansi;
    std::wstring shortName(32768, L'\0');
    const DWORD n = GetShortPathNameW(name.c_str(), shortName.data(), DWORD(shortName.size()));
    if (n > 0 && n < shortName.size()) {
        shortName.resize(n);
        if (ansiOf(shortName, ansi)) return ansi;
    }
    return text;  // no name the plugin can open: it will say it cannot read the file
}

#else

Utf8Arguments::Utf8Arguments(int argc, char** argv) : texts(argv, argv + argc) {
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
}

Utf8Arguments::~Utf8Arguments() = default;

std::string hostFileName(const std::string& text) { return text; }

#endif

std::filesystem::path pathOf(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace sidtune
