// resource_probe.exe: reads back the resources of a built Windows file, as Windows itself reads
// them, and prints what it found (UTF-8) for the test scripts to compare.
//   resource_probe version FILE          each VERSIONINFO string as NAME=VALUE, and FixedVersion=a.b.c.d
//   resource_probe manifest FILE         the embedded application manifest
//   resource_probe message DLL ID TEXT...  the message ID of DLL's message table with the TEXTs as
//                                          inserts %1, %2, ...
// Exits 0 on success, 1 when the file lacks what was asked for, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

// Writes wide text to standard output as UTF-8.
void printUtf8(const std::wstring& text) {
  if (text.empty()) {
    return;
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

struct ModuleFree {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
// A file loaded as data only: its resources can be read, none of its code runs.
using DataModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

DataModule loadAsData(const wchar_t* path) {
  return DataModule(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

int printVersion(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    std::fprintf(stderr, "no version resource (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) {
    std::fprintf(stderr, "GetFileVersionInfoW failed (error %lu)\n", GetLastError());
    return 1;
  }
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    std::fprintf(stderr, "no fixed file information\n");
    return 1;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  std::printf("FixedVersion=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
              fixed->dwFileVersionMS & 0xFFFFUL, fixed->dwFileVersionLS >> 16,
              fixed->dwFileVersionLS & 0xFFFFUL);
  // The strings are read in the language and code page that the translation table names first.
  struct Translation {
    WORD language;
    WORD codePage;
  };
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length < sizeof(Translation)) {
    std::fprintf(stderr, "no translation table\n");
    return 1;
  }
  const auto* translation = static_cast<const Translation*>(value);
  static const wchar_t* const kNames[] = {L"CompanyName",    L"ProductName",
                                          L"FileDescription", L"FileVersion",
                                          L"ProductVersion", L"OriginalFilename",
                                          L"LegalCopyright"};
  for (const wchar_t* name : kNames) {
    wchar_t query[128];
    std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                  translation->codePage, name);
    std::wstring line = name;
    line += L'=';
    if (VerQueryValueW(block.data(), query, &value, &length) && length > 0) {
      line += static_cast<const wchar_t*>(value);
    }
    line += L'\n';
    printUtf8(line);
  }
  return 0;
}

int printManifest(const wchar_t* path) {
  DataModule module = loadAsData(path);
  if (!module) {
    std::fprintf(stderr, "cannot load the file (error %lu)\n", GetLastError());
    return 1;
  }
  HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  HGLOBAL loaded = resource ? LoadResource(module.get(), resource) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    std::fprintf(stderr, "no manifest resource\n");
    return 1;
  }
  std::fwrite(data, 1, SizeofResource(module.get(), resource), stdout);
  return 0;
}

int printMessage(const wchar_t* path, const wchar_t* idText, wchar_t** inserts, int count) {
  wchar_t* end = nullptr;
  const unsigned long id = std::wcstoul(idText, &end, 10);
  if (end == idText || *end != L'\0') {
    std::fprintf(stderr, "ID must be a number\n");
    return 2;
  }
  DataModule module = loadAsData(path);
  if (!module) {
    std::fprintf(stderr, "cannot load the file (error %lu)\n", GetLastError());
    return 1;
  }
  // The event log formats an event's description this way: its strings as an argument array.
  std::vector<DWORD_PTR> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(reinterpret_cast<DWORD_PTR>(inserts[i]));
  wchar_t text[1024] = {};
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.get(), id,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), text, 1024,
      reinterpret_cast<va_list*>(arguments.data()));
  if (length == 0) {
    std::fprintf(stderr, "no message %lu (error %lu)\n", id, GetLastError());
    return 1;
  }
  printUtf8(std::wstring(text, length));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"version" && argc == 3) {
    return printVersion(argv[2]);
  }
  if (command == L"manifest" && argc == 3) {
    return printManifest(argv[2]);
  }
  if (command == L"message" && argc >= 5) {
    return printMessage(argv[2], argv[3], argv + 4, argc - 4);
  }
  std::fprintf(stderr, "usage: resource_probe version FILE | manifest FILE | message DLL ID TEXT...\n");
  return 2;
}
