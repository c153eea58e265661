// Writes a few settings to a profile file, reads them back and lists them.
#include <cstdio>
#include <string>

#include "inireg/profile_store.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "example.ini";
  {
    inireg::ProfileStore store(path);
    store.SetString("Example window", "Title", "Window");
    store.SetInt(640, "Width", "");  // "" keeps the current section, Window.
    store.SetInt(480, "Height", "");
    store.SetString("\"C:\\Program Files\\Example\"", "InstallDir", "Paths");
  }  // The store writes the file back here.

  inireg::ProfileStore store(path);
  std::string title;
  store.GetString(title, "untitled", "Title", "Window");
  std::printf("Title  = %s\n", title.c_str());
  std::printf("Width  = %d\n", store.GetInt("Width", "", 0));
  std::printf("Height = %d\n", store.GetInt("Height", "", 0));

  int32_t count = 0;
  std::string* sections = store.GetSectionNames(&count);
  for (int32_t i = 0; i < count; ++i) std::printf("section [%s]\n", sections[i].c_str());
  delete[] sections;
  return 0;
}
