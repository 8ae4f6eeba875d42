// What Wine's regedit makes of store texts, a batch a run: regedit_reading JOBS TREE... Each line
// of JOBS is "OUT FILE...": delete every TREE (HKEY_...\path), import each FILE with `regedit /s`,
// list the trees to OUT: each key, parents first, as "K path", then its values as "V name type
// data"; path and name in UTF-16LE, all in hex ("-" when empty). For regedit_differential.py.
#include <process.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

static void Hex(FILE* out, const char* tag, const void* data, size_t size, const char* after) {
  std::fputs(tag, out);
  if (size == 0) std::fputc('-', out);
  for (size_t i = 0; i < size; ++i) std::fprintf(out, "%02x", static_cast<const BYTE*>(data)[i]);
  std::fputs(after, out);
}

static void List(FILE* out, HKEY parent, const std::wstring& sub, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(parent, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  Hex(out, "K ", path.data(), path.size() * 2, "\n");
  static wchar_t name[32768];
  static BYTE data[1 << 20];
  DWORD size, data_size, type;
  for (DWORD i = 0; size = 32768, data_size = sizeof data,
             !RegEnumValueW(key, i, name, &size, nullptr, &type, data, &data_size);
       ++i) {
    Hex(out, "V ", name, size * 2, " ");
    std::fprintf(out, "%lu ", static_cast<unsigned long>(type));
    Hex(out, "", data, data_size, "\n");
  }
  for (DWORD i = 0;
       size = 32768, !RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr); ++i) {
    std::wstring child(name, size);  // the buffer is the next key's too
    List(out, key, child, path + L"\\" + child);
  }
  RegCloseKey(key);
}

int main(int argc, char** argv) {
  FILE* jobs = argc > 1 ? std::fopen(argv[1], "rb") : nullptr;
  if (!jobs) return 2;
  static const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                                HKEY_USERS};
  static const wchar_t* const kRootNames[] = {L"HKEY_CLASSES_ROOT\\", L"HKEY_CURRENT_USER\\",
                                              L"HKEY_LOCAL_MACHINE\\", L"HKEY_USERS\\"};
  char line[4096];
  for (bool more = true; more;) {
    more = std::fgets(line, sizeof line, jobs) != nullptr;
    const char* out_name = more ? std::strtok(line, " \r\n") : nullptr;
    FILE* out = out_name ? std::fopen(out_name, "wb") : nullptr;
    for (int pass = 0; pass < 2; ++pass) {  // delete the trees; list them after the imports
      for (int i = 2; i < argc; ++i) {
        std::wstring tree(argv[i], argv[i] + std::strlen(argv[i]));
        for (int root = 0; root < 4; ++root) {
          if (tree.rfind(kRootNames[root], 0) != 0) continue;
          std::wstring sub = tree.substr(wcslen(kRootNames[root]));
          if (pass == 0) SHDeleteKeyW(kRoots[root], sub.c_str());
          if (pass == 1 && out) List(out, kRoots[root], sub, tree);
        }
      }
      while (const char* file = pass == 0 && out ? std::strtok(nullptr, " \r\n") : nullptr)
        _spawnl(_P_WAIT, "C:\\windows\\regedit.exe", "regedit", "/s", file, nullptr);
    }
    if (out) std::fclose(out);
  }
  std::fclose(jobs);
  return 0;
}
