// Compares inireg's profile engine with other INI libraries on the same
// generated files: load, hot lookups, 1,000 changes written back, and peak
// memory.  Prints one table with inireg's time divided by each peer's.
//
// A plain timing program rather than Google Benchmark: every write-back
// sample needs an untimed restore of the file and a fresh load, the memory
// cases run in separate processes, and the result is one cross-library table
// of ratios, none of which Google Benchmark's fixtures give directly.
//
// Usage: profile_bench [--dir DIR] [--quick] [--sizes S,M,L]
//                      [--cases load,lookup,write,memory] [--libraries inireg,SimpleIni,...]
//        profile_bench --memory LIBRARY FILE   (internal: one memory case)
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <SimpleIni.h>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <ini.h>

#include "inireg/profile_engine.h"
#include "inireg/profile_store.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- fsync accounting ---------------------------------------------------------
//
// The program's own definitions take the place of the C library's for every
// caller, the peers' shared libraries included, so each write-back's calls
// are counted, and can be skipped to time inireg without them.

namespace {
long syncCalls = 0;
bool skipSync = false;

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fsync(int fd) {
  ++syncCalls;
  if (skipSync) return 0;
  static auto real = Next<int (*)(int)>("fsync");
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  ++syncCalls;
  if (skipSync) return 0;
  static auto real = Next<int (*)(int)>("fdatasync");
  return real(fd);
}

namespace {

// --- Generated files ----------------------------------------------------------

struct Size {
  const char* name;
  int sections;
  int keysPerSection;
};

const Size kSizes[] = {{"S", 100, 10}, {"M", 1000, 10}, {"L", 10000, 10}};

struct Query {
  std::string section;
  std::string key;
};

struct Corpus {
  std::string path;            // The pristine file; never written.
  std::vector<Query> entries;  // Every entry, in file order.
  std::vector<Query> lookups;  // Random existing entries.
  std::vector<Query> changes;  // 1,000 distinct existing entries.
  uintmax_t bytes = 0;
};

// Names and values as settings files of desktop programs hold them.  Every
// name is unique in its scope (Boost refuses duplicates) and free of the
// characters some peers treat as path separators or escapes ('.', '/', '\',
// '%', ','), so every library reads the same entries.
const char* const kSectionStems[] = {
    "Window Layout", "RecentFiles", "Plugin", "Toolbar",   "Printer", "Connection",
    "Editor",        "Profile",     "Device", "Extension", "Theme",   "Account",
};
const char* const kKeys[] = {
    "Width",
    "Height",
    "Left",
    "Top",
    "Maximized",
    "Visible",
    "FontName",
    "FontSize",
    "LastOpenedFile",
    "InstallDir",
    "Language",
    "Theme",
    "AutoSaveInterval",
    "Enabled",
    "Title",
    "Description",
    "Version",
    "Timeout",
    "RetryCount",
    "Color",
    "Path",
    "UserName",
    "ServerAddress",
    "Port",
    "UseProxy",
    "ProxyHost",
    "ShowStatusBar",
    "WordWrap",
    "TabWidth",
    "Encoding",
    "Author",
    "Checksum",
    "LastUpdateCheck",
    "WindowState",
    "Order",
    "Mode",
};
const char* const kWords[] = {"Default",         "Main",         "Arial",   "Segoe UI",
                              "Consolas",        "English",      "Deutsch", "Dark",
                              "Light",           "Classic",      "Ready",   "Untitled",
                              "Network Printer", "My Documents", "Report",  "Backup"};

std::string MakeValue(std::mt19937& random) {
  char text[160];
  switch (random() % 9) {
    case 0:
      std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(random() % 4000));
      return text;
    case 1:
      std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(random()));
      return text;
    case 2:
      return random() % 2 ? "true" : "false";
    case 3:
      return random() % 2 ? "1" : "0";
    case 4:
      std::snprintf(text, sizeof text, "C:/Program Files/%s/%s%u.exe", kWords[random() % 16],
                    kWords[random() % 16], static_cast<unsigned>(random() % 100));
      return text;
    case 5:  // A quoted value with spaces.
      std::snprintf(text, sizeof text, "\"%s %s %u\"", kWords[random() % 16], kWords[random() % 16],
                    static_cast<unsigned>(random() % 1000));
      return text;
    case 6:
      std::snprintf(text, sizeof text, "%s", kWords[random() % 16]);
      return text;
    case 7:
      std::snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(random() % 10),
                    static_cast<unsigned>(random() % 20), static_cast<unsigned>(random() % 500));
      return text;
    default:
      std::snprintf(text, sizeof text, "{%08X-%04X-%04X}", static_cast<unsigned>(random()),
                    static_cast<unsigned>(random() % 65536),
                    static_cast<unsigned>(random() % 65536));
      return text;
  }
}

// `longNames`: section names as long as programs write them when they keep
// one section per object ("Plugin Toolbar Window Layout Device 1234").
Corpus Generate(const Size& size, const std::string& folder, bool longNames = false) {
  Corpus corpus;
  corpus.path = folder + "/" + size.name + (longNames ? "-long" : "") + ".ini";
  std::mt19937 random(20240611u + static_cast<unsigned>(size.sections));
  std::string text = "; Settings generated for the inireg benchmark\n\n";
  const size_t keyCount = sizeof kKeys / sizeof kKeys[0];
  for (int s = 0; s < size.sections; ++s) {
    char name[64];
    if (longNames) {
      std::snprintf(name, sizeof name, "%s %s %s %s %d", kSectionStems[random() % 12],
                    kSectionStems[random() % 12], kSectionStems[random() % 12],
                    kSectionStems[random() % 12], s);
    } else {
      std::snprintf(name, sizeof name, "%s %d", kSectionStems[random() % 12], s);
    }
    if (random() % 5 == 0) text += "; " + std::string(kWords[random() % 16]) + " settings\n";
    text += "[" + std::string(name) + "]\n";
    // Distinct keys: a random window of the key list, some with a number.
    size_t first = random() % keyCount;
    for (int k = 0; k < size.keysPerSection; ++k) {
      std::string key = kKeys[(first + static_cast<size_t>(k)) % keyCount];
      if (k >= static_cast<int>(keyCount)) key += std::to_string(k);
      if (random() % 25 == 0) text += "; " + key + " is set by the installer\n";
      text += key + (random() % 4 == 0 ? " = " : "=") + MakeValue(random) + "\n";
      corpus.entries.push_back({name, key});
    }
    text += "\n";
  }
  std::ofstream(corpus.path, std::ios::binary | std::ios::trunc) << text;
  corpus.bytes = text.size();

  for (int i = 0; i < 16384; ++i) {
    corpus.lookups.push_back(corpus.entries[random() % corpus.entries.size()]);
  }
  std::vector<size_t> order(corpus.entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (size_t i = 0; i < 1000 && i < order.size(); ++i)
    corpus.changes.push_back(corpus.entries[order[i]]);
  return corpus;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// A UTF-16LE copy, with its byte-order mark, of a file of ASCII text.
void CopyAsUtf16(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string wide = "\xFF\xFE";
  wide.reserve(2 * bytes.size() + 2);
  for (char byte : bytes) {
    wide += byte;
    wide += '\0';
  }
  std::ofstream(to, std::ios::binary | std::ios::trunc) << wide;
}

// --- The libraries, behind one interface --------------------------------------

class Library {
 public:
  virtual ~Library() = default;
  virtual const char* Name() const = 0;
  // Opens and parses `path` until lookups can be answered.
  virtual void Load(const std::string& path) = 0;
  // Drops what Load made.
  virtual void Unload() = 0;
  // Looks up every query once; returns the number found.
  virtual size_t Lookups(const std::vector<Query>& queries) { return (void)queries, 0; }
  virtual bool CanLookUp() const { return true; }
  // Sets each entry to a new value and writes the file back.
  virtual void ChangeAndSave(const std::vector<Query>& changes,
                             const std::vector<std::string>& values) = 0;
  virtual bool CanSave() const { return true; }
  // Prepares per-query data that a caller of the library would keep.
  virtual void Prepare(const std::vector<Query>&) {}
};

class IniregStore : public Library {
 public:
  // keepLayout: write-backs keep the file's own lines (comments, spacing).
  // options: the store's option word (non-zero: continuation lines joined).
  explicit IniregStore(bool keepLayout = false, int32_t options = 0)
      : keepLayout_(keepLayout), options_(options) {}
  const char* Name() const override { return keepLayout_ ? "inireg (layout kept)" : "inireg"; }
  void Load(const std::string& path) override {
    path_ = path;
    inireg::ProfileClose(path_.c_str());  // Forces a fresh parse.
    store_ = std::make_unique<inireg::ProfileStore>(path_);
    // Options first: setting them drops what was read (SetKeepLayout reads).
    if (options_ != 0) store_->SetOptions(options_);
    store_->SetKeepLayout(keepLayout_);
    std::string out;
    store_->GetString(out, "", "Width", "no such section");
  }
  void Unload() override {
    store_.reset();
    inireg::ProfileClose(path_.c_str());
  }
  size_t Lookups(const std::vector<Query>& queries) override {
    size_t found = 0;
    std::string out;
    const std::string none;
    for (const Query& q : queries) found += store_->GetString(out, none, q.key, q.section) > 0;
    return found;
  }
  void ChangeAndSave(const std::vector<Query>& changes,
                     const std::vector<std::string>& values) override {
    for (size_t i = 0; i < changes.size(); ++i) {
      store_->SetString(values[i], changes[i].key, changes[i].section);
    }
    store_.reset();  // Writes the file back.
  }

 protected:
  bool keepLayout_;
  int32_t options_;
  std::string path_;
  std::unique_ptr<inireg::ProfileStore> store_;
};

// The same engine through its C-style call, with the caller's buffer.
class IniregEngine : public IniregStore {
 public:
  const char* Name() const override { return "inireg ProfileGetString"; }
  size_t Lookups(const std::vector<Query>& queries) override {
    size_t found = 0;
    char buffer[256];
    const char* file = path_.c_str();
    for (const Query& q : queries) {
      found += inireg::ProfileGetString(q.section.c_str(), q.key.c_str(), "", buffer, sizeof buffer,
                                        file) > 0;
    }
    return found;
  }
};

class SimpleIniLibrary : public Library {
 public:
  const char* Name() const override { return "SimpleIni"; }
  void Load(const std::string& path) override {
    path_ = path;
    ini_ = std::make_unique<CSimpleIniA>();
    if (ini_->LoadFile(path.c_str()) < 0) std::abort();
  }
  void Unload() override { ini_.reset(); }
  size_t Lookups(const std::vector<Query>& queries) override {
    size_t found = 0;
    for (const Query& q : queries)
      found += ini_->GetValue(q.section.c_str(), q.key.c_str(), nullptr) != nullptr;
    return found;
  }
  void ChangeAndSave(const std::vector<Query>& changes,
                     const std::vector<std::string>& values) override {
    for (size_t i = 0; i < changes.size(); ++i) {
      ini_->SetValue(changes[i].section.c_str(), changes[i].key.c_str(), values[i].c_str());
    }
    if (ini_->SaveFile(path_.c_str()) < 0) std::abort();
  }

 private:
  std::string path_;
  std::unique_ptr<CSimpleIniA> ini_;
};

class QSettingsLibrary : public Library {
 public:
  const char* Name() const override { return "QSettings"; }
  void Prepare(const std::vector<Query>& queries) override {
    keys_.clear();
    for (const Query& q : queries) keys_.push_back(QString::fromStdString(q.section + "/" + q.key));
  }
  void Load(const std::string& path) override {
    settings_ = std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
    settings_->value(QStringLiteral("no such section/Width"));  // QSettings parses on first use.
  }
  void Unload() override { settings_.reset(); }
  size_t Lookups(const std::vector<Query>& queries) override {
    size_t found = 0;
    for (size_t i = 0; i < queries.size(); ++i) found += settings_->value(keys_[i]).isValid();
    return found;
  }
  void ChangeAndSave(const std::vector<Query>& changes,
                     const std::vector<std::string>& values) override {
    for (size_t i = 0; i < changes.size(); ++i) {
      settings_->setValue(keys_[i], QString::fromStdString(values[i]));
    }
    settings_->sync();
    if (settings_->status() != QSettings::NoError) std::abort();
  }

 private:
  std::unique_ptr<QSettings> settings_;
  std::vector<QString> keys_;
};

int IgnoreEntry(void*, const char*, const char*, const char*) { return 1; }

class InihLibrary : public Library {
 public:
  const char* Name() const override { return "inih"; }
  void Load(const std::string& path) override {
    if (ini_parse(path.c_str(), IgnoreEntry, nullptr) < 0) std::abort();
  }
  void Unload() override {}
  bool CanLookUp() const override { return false; }
  void ChangeAndSave(const std::vector<Query>&, const std::vector<std::string>&) override {}
  bool CanSave() const override { return false; }
};

namespace pt = boost::property_tree;

class BoostLibrary : public Library {
 public:
  const char* Name() const override { return "Boost.PropertyTree"; }
  void Prepare(const std::vector<Query>& queries) override {
    paths_.clear();
    for (const Query& q : queries) paths_.emplace_back(q.section + '\x1F' + q.key, '\x1F');
  }
  void Load(const std::string& path) override {
    path_ = path;
    tree_ = std::make_unique<pt::ptree>();
    pt::read_ini(path, *tree_);
  }
  void Unload() override { tree_.reset(); }
  size_t Lookups(const std::vector<Query>& queries) override {
    size_t found = 0;
    for (size_t i = 0; i < queries.size(); ++i)
      found += tree_->get_optional<std::string>(paths_[i]).has_value();
    return found;
  }
  void ChangeAndSave(const std::vector<Query>& changes,
                     const std::vector<std::string>& values) override {
    for (size_t i = 0; i < changes.size(); ++i) tree_->put(paths_[i], values[i]);
    pt::write_ini(path_, *tree_);
  }

 private:
  std::string path_;
  std::unique_ptr<pt::ptree> tree_;
  std::vector<pt::ptree::path_type> paths_;
};

std::unique_ptr<Library> MakeLibrary(const std::string& name) {
  if (name == "inireg") return std::make_unique<IniregStore>();
  if (name == "inireg-engine") return std::make_unique<IniregEngine>();
  if (name == "inireg-layout") return std::make_unique<IniregStore>(/*keepLayout=*/true);
  if (name == "SimpleIni") return std::make_unique<SimpleIniLibrary>();
  if (name == "QSettings") return std::make_unique<QSettingsLibrary>();
  if (name == "inih") return std::make_unique<InihLibrary>();
  if (name == "Boost") return std::make_unique<BoostLibrary>();
  return nullptr;
}

// --- Measuring ------------------------------------------------------------------

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// One case of one library: `sample` times it once, in seconds; the median
// of its samples times `scale` goes to `*into`.
struct Sampler {
  double* into;
  double scale;
  std::function<double()> sample;
};

// Takes one sample of every sampler in turn, round after round, so that a
// slow spell of the machine falls on every library alike rather than on
// whichever was measuring then: rounds go on until `minimum` rounds are
// done and `budget` seconds per sampler have passed (never more than
// `maximum` rounds).  Returns the number of rounds.
int MeasureInTurn(const std::vector<Sampler>& samplers, int minimum, int maximum, double budget) {
  std::vector<std::vector<double>> samples(samplers.size());
  Clock::time_point start = Clock::now();
  double seconds = budget * static_cast<double>(samplers.size());
  int rounds = 0;
  while (rounds < maximum && (rounds < minimum || Seconds(start) < seconds)) {
    for (size_t i = 0; i < samplers.size(); ++i) samples[i].push_back(samplers[i].sample());
    ++rounds;
  }
  for (size_t i = 0; i < samplers.size(); ++i)
    *samplers[i].into = samplers[i].scale * Median(samples[i]);
  return rounds;
}

// Stops the benchmark when a library missed entries: its times would not
// be comparable.
void CheckFound(const char* library, size_t found, size_t wanted, const std::string& path) {
  if (found == wanted) return;
  std::fprintf(stderr, "%s found %zu of %zu entries of %s\n", library, found, wanted, path.c_str());
  std::exit(1);
}

// Evicts the benchmark's data from the processor's caches by walking a
// buffer larger than any of them.
void FlushCaches() {
  static std::vector<char> sweep(96u << 20);
  for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = static_cast<char>(sweep[i] + 1);
}

long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Runs in a fresh process (so no earlier case's memory counts): loads the
// file and prints the peak resident set before and after, in kB.
int MemoryCase(const std::string& libraryName, const std::string& path) {
  std::unique_ptr<Library> library = MakeLibrary(libraryName);
  if (!library) return 2;
  // A small file first, so that what a library sets up once per process
  // (Qt's text codecs, for one) is not counted as the file's.
  std::string small = path + ".warm-up.ini";
  std::ofstream(small, std::ios::binary | std::ios::trunc) << "[Warm up]\nWidth=1\n";
  library->Load(small);
  library->Unload();
  fs::remove(small);
  long before = PeakKilobytes();
  library->Load(path);
  long after = PeakKilobytes();
  std::printf("%ld %ld\n", before, after);
  return 0;
}

// Peak memory of one library loading `path`, in kB: the increase over the
// process's own peak before loading, and the process's whole peak.
std::pair<long, long> MeasureMemory(const std::string& self, const std::string& libraryName,
                                    const std::string& path) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {-1, -1};
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    close(pipeEnds[0]);
    execl(self.c_str(), self.c_str(), "--memory", libraryName.c_str(), path.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  char text[128] = {0};
  ssize_t got = read(pipeEnds[0], text, sizeof text - 1);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  long before = -1, after = -1;
  if (got <= 0 || std::sscanf(text, "%ld %ld", &before, &after) != 2) return {-1, -1};
  return {after - before, after};
}

// --- The table ------------------------------------------------------------------

const char* const kColumns[] = {"inireg", "SimpleIni", "QSettings", "inih", "Boost"};
constexpr int kColumnCount = 5;

struct Row {
  std::string label;
  std::string unit;
  double values[kColumnCount];  // NaN: not measured.
};

std::vector<Row> rows;
std::vector<std::string> notes;

void PrintTable() {
  std::printf("\n%-44s %-6s", "case", "unit");
  for (const char* column : kColumns) std::printf(" %10s", column);
  std::printf("   inireg / peer:");
  for (int c = 1; c < kColumnCount; ++c) std::printf(" %9s", kColumns[c]);
  std::printf("\n");
  for (const Row& row : rows) {
    std::printf("%-44s %-6s", row.label.c_str(), row.unit.c_str());
    for (double value : row.values) {
      if (std::isnan(value)) {
        std::printf(" %10s", "-");
      } else {
        std::printf(" %10.4g", value);
      }
    }
    std::printf("                 ");
    for (int c = 1; c < kColumnCount; ++c) {
      if (std::isnan(row.values[0]) || std::isnan(row.values[c]) || row.values[c] <= 0) {
        std::printf(" %9s", "-");
      } else {
        std::printf(" %9.3f", row.values[0] / row.values[c]);
      }
    }
    std::printf("\n");
  }
  for (const std::string& note : notes) std::printf("note: %s\n", note.c_str());
}

Row NewRow(const std::string& label, const std::string& unit) {
  Row row{label, unit, {}};
  for (double& value : row.values) value = std::nan("");
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--memory") == 0) return MemoryCase(argv[2], argv[3]);

  std::string folder = "bench-files";
  std::string sizeList = "S,M,L";
  std::string caseList = "load,lookup,write,memory";
  std::string libraryList = "inireg,SimpleIni,QSettings,inih,Boost";
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--dir" && i + 1 < argc) {
      folder = argv[++i];
    } else if (argument == "--sizes" && i + 1 < argc) {
      sizeList = argv[++i];
    } else if (argument == "--cases" && i + 1 < argc) {
      caseList = argv[++i];
    } else if (argument == "--libraries" && i + 1 < argc) {
      libraryList = argv[++i];
    } else if (argument == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--dir DIR] [--quick] [--sizes S,M,L] [--cases "
                   "load,lookup,write,memory] [--libraries inireg,...]\n",
                   argv[0]);
      return 2;
    }
  }
  fs::create_directories(folder);
  folder = fs::absolute(folder).string();
  const std::string self = fs::canonical("/proc/self/exe").string();
  const double budget = quick ? 0.3 : 1.5;
  auto wanted = [&](const char* name) { return caseList.find(name) != std::string::npos; };

  const char* const libraryNames[kColumnCount] = {"inireg", "SimpleIni", "QSettings", "inih",
                                                  "Boost"};
  struct Growth {
    std::string size;
    double entries;
    std::vector<double> nanoseconds;
  };
  std::vector<Growth> lookupGrowth;

  for (const Size& size : kSizes) {
    if (sizeList.find(size.name) == std::string::npos) continue;
    Corpus corpus = Generate(size, folder);
    std::printf("file %s: %d sections x %d keys, %ju bytes\n", size.name, size.sections,
                size.keysPerSection, corpus.bytes);
    std::fflush(stdout);
    std::vector<std::string> newValues;
    for (size_t i = 0; i < corpus.changes.size(); ++i)
      newValues.push_back("changed value " + std::to_string(i));

    Row load = NewRow("load " + std::string(size.name), "ms");
    Row loadWide = NewRow("load " + std::string(size.name) + " as UTF-16LE (inireg)", "ms");
    Row loadJoined = NewRow("load " + std::string(size.name) + " lines joined (inireg)", "ms");
    Row storeLookup =
        NewRow("lookup " + std::string(size.name) + " (inireg: ProfileStore::GetString)", "ns");
    Row engineLookup =
        NewRow("lookup " + std::string(size.name) + " (inireg: ProfileGetString)", "ns");
    Row coldLookup =
        NewRow("lookup " + std::string(size.name) + " cold, long names (ProfileStore)", "ns");
    Row write = NewRow("change 1000 + write " + std::string(size.name), "ms");
    Row writeNoSync =
        NewRow("change 1000 + write " + std::string(size.name) + " (inireg fsync skipped)", "ms");
    Row writeLayout =
        NewRow("change 1000 + write " + std::string(size.name) + " (inireg layout kept)", "ms");

    // The libraries of the wanted columns, each with its own copy of the
    // file, so that no format another wrote back is read.
    std::vector<int> columns;
    std::unique_ptr<Library> libraries[kColumnCount];
    std::string works[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) {
      if (libraryList.find(libraryNames[c]) == std::string::npos) continue;
      columns.push_back(c);
      libraries[c] = MakeLibrary(libraryNames[c]);
      works[c] = folder + "/" + size.name + "." + libraryNames[c] + ".ini";
      CopyFile(corpus.path, works[c]);
    }
    // Every load sample reads a new copy under a new name: QSettings keeps
    // files it has read and skips reading one whose time stamp (to the
    // millisecond) and size it has seen.
    int copies = 0;
    auto freshCopy = [&](int c) {
      std::string name = works[c] + "." + std::to_string(++copies) + ".ini";
      CopyFile(corpus.path, name);
      return name;
    };

    auto joined = std::make_unique<IniregStore>(/*keepLayout=*/false, /*options=*/1);
    if (wanted("load")) {
      // Each timed load follows an untimed one of the same library, so that
      // it meets the heap as that library's own last load left it and not
      // as the library before it did: freeing Boost's tree, for one, leaves
      // the allocator tidying work that the next allocations pay for.
      std::vector<Sampler> samplers;
      for (int c : columns) {
        samplers.push_back({&load.values[c], 1e3, [&, c] {
                              std::string warmUp = freshCopy(c);
                              libraries[c]->Load(warmUp);
                              libraries[c]->Unload();
                              fs::remove(warmUp);
                              std::string copy = freshCopy(c);
                              Clock::time_point start = Clock::now();
                              libraries[c]->Load(copy);
                              double took = Seconds(start);
                              libraries[c]->Unload();
                              fs::remove(copy);
                              return took;
                            }});
      }
      // inireg alone, on the same text as UTF-16LE and with continuation
      // lines joined (the option word 1), which its reader takes other ways.
      if (libraries[0]) {
        std::string wide = works[0] + ".utf16.ini";
        CopyAsUtf16(corpus.path, wide);
        auto addInireg = [&](Library* which, const std::string& path, double* into) {
          samplers.push_back({into, 1e3, [which, path] {
                                which->Load(path);
                                which->Unload();
                                Clock::time_point start = Clock::now();
                                which->Load(path);
                                double took = Seconds(start);
                                which->Unload();
                                return took;
                              }});
        };
        addInireg(libraries[0].get(), wide, &loadWide.values[0]);
        addInireg(joined.get(), works[0], &loadJoined.values[0]);
      }
      MeasureInTurn(samplers, 5, 200, budget);
      std::fprintf(stderr, ".");
    }

    std::vector<int> lookers;
    for (int c : columns) {
      if (libraries[c]->CanLookUp()) lookers.push_back(c);
    }
    std::unique_ptr<Library> engine = MakeLibrary("inireg-engine");
    bool withEngine = !lookers.empty() && lookers.front() == 0;
    if (!lookers.empty() && wanted("lookup")) {
      // Warm lookups: every library holds its file at once, and each sample
      // is a pass over the queries right after an untimed one.
      std::vector<Sampler> samplers;
      auto addWarm = [&](Library* which, const char* what, const std::string& path, double* into) {
        which->Prepare(corpus.lookups);
        which->Load(path);
        CheckFound(what, which->Lookups(corpus.lookups), corpus.lookups.size(), path);
        samplers.push_back({into, 1e9, [which, &corpus] {
                              which->Lookups(corpus.lookups);
                              Clock::time_point start = Clock::now();
                              which->Lookups(corpus.lookups);
                              return Seconds(start) / static_cast<double>(corpus.lookups.size());
                            }});
      };
      for (int c : lookers)
        addWarm(libraries[c].get(), libraryNames[c], works[c], &storeLookup.values[c]);
      // The engine's own call reads the record the store loaded.
      if (withEngine)
        addWarm(engine.get(), "inireg ProfileGetString", works[0], &engineLookup.values[0]);
      MeasureInTurn(samplers, 5, 1000, budget);
      for (int c : lookers) libraries[c]->Unload();
      if (withEngine) engine->Unload();
      for (int c : lookers) {
        if (c != 0) engineLookup.values[c] = storeLookup.values[c];
      }

      // The cold case: every entry of a file with long section names once,
      // in random order, after the caches were flushed.  Each library takes
      // the same orders.
      Corpus longCorpus = Generate(size, folder, true);
      std::vector<std::vector<Query>> orders(kColumnCount, longCorpus.entries);
      std::vector<std::mt19937> shuffles(kColumnCount, std::mt19937(7));
      samplers.clear();
      for (int c : lookers) {
        libraries[c]->Load(longCorpus.path);
        samplers.push_back({&coldLookup.values[c], 1e9, [&, c] {
                              std::vector<Query>& order = orders[c];
                              std::shuffle(order.begin(), order.end(), shuffles[c]);
                              libraries[c]->Prepare(order);  // Per-query data goes by position.
                              FlushCaches();
                              Clock::time_point start = Clock::now();
                              size_t found = libraries[c]->Lookups(order);
                              double took = Seconds(start);
                              CheckFound(libraryNames[c], found, order.size(), longCorpus.path);
                              return took / static_cast<double>(order.size());
                            }});
      }
      MeasureInTurn(samplers, 3, 20, budget);
      for (int c : lookers) libraries[c]->Unload();
      std::fprintf(stderr, ".");
    }

    std::vector<int> savers;
    for (int c : columns) {
      if (libraries[c]->CanSave()) savers.push_back(c);
    }
    if (!savers.empty() && wanted("write")) {
      std::unique_ptr<Library> layout = MakeLibrary("inireg-layout");
      long syncs[kColumnCount] = {};
      std::vector<Sampler> samplers;
      // One write-back sample: a fresh copy loaded, the changes made and
      // written back; `noSync` makes fsync a no-op for its duration.
      auto addWrite = [&](Library* saver, int c, bool noSync, double* into) {
        saver->Prepare(corpus.changes);
        samplers.push_back({into, 1e3, [&, saver, c, noSync] {
                              std::string copy = freshCopy(c);
                              saver->Load(copy);
                              long syncsBefore = syncCalls;
                              skipSync = noSync;
                              Clock::time_point start = Clock::now();
                              saver->ChangeAndSave(corpus.changes, newValues);
                              double took = Seconds(start);
                              skipSync = false;
                              if (!noSync && saver == libraries[c].get())
                                syncs[c] += syncCalls - syncsBefore;
                              saver->Unload();
                              fs::remove(copy);
                              return took;
                            }});
      };
      for (int c : savers) addWrite(libraries[c].get(), c, false, &write.values[c]);
      if (savers.front() == 0) {
        addWrite(libraries[0].get(), 0, true, &writeNoSync.values[0]);
        addWrite(layout.get(), 0, false, &writeLayout.values[0]);
      }
      int rounds = MeasureInTurn(samplers, 3, 50, budget);
      for (int c : savers) {
        if (c != 0) writeNoSync.values[c] = writeLayout.values[c] = write.values[c];
        if (std::string(size.name) != "S") continue;
        double syncsPerSave = static_cast<double>(syncs[c]) / rounds;
        char note[160];
        std::snprintf(note, sizeof note, "%s calls fsync/fdatasync %.0f times per write-back%s",
                      libraryNames[c], syncsPerSave,
                      syncsPerSave == 0 ? " (its time holds no flush to disk)" : "");
        notes.push_back(note);
      }
      std::fprintf(stderr, ".");
    }
    std::fprintf(stderr, "\n");
    lookupGrowth.push_back({size.name,
                            static_cast<double>(corpus.entries.size()),
                            {storeLookup.values[0], engineLookup.values[0], storeLookup.values[1],
                             storeLookup.values[2], storeLookup.values[4]}});
    Row memory = NewRow("peak memory " + std::string(size.name) + " (increase by load)", "MB");
    Row wholeMemory = NewRow("peak memory " + std::string(size.name) + " (whole process)", "MB");
    for (int c = 0; c < kColumnCount && wanted("memory"); ++c) {
      if (libraryList.find(libraryNames[c]) == std::string::npos) continue;
      std::string work = folder + "/" + size.name + "." + libraryNames[c] + ".ini";
      CopyFile(corpus.path, work);
      auto [increase, whole] = MeasureMemory(self, libraryNames[c], work);
      memory.values[c] = increase / 1024.0;
      wholeMemory.values[c] = whole / 1024.0;
    }
    for (Row* row : {&load, &loadWide, &loadJoined, &storeLookup, &engineLookup, &coldLookup,
                     &write, &writeNoSync, &writeLayout, &memory, &wholeMemory}) {
      bool measured = false;
      for (double value : row->values) measured = measured || !std::isnan(value);
      if (measured) rows.push_back(*row);
    }
  }

  notes.push_back("inih only parses (a handler that keeps nothing): no lookups, no write-back");
  notes.push_back(
      "the 'fsync skipped' row times inireg's atomic write-back with fsync made a no-op;"
      " peers' columns repeat their normal time");
  notes.push_back(
      "peak memory: VmHWM of a fresh process per case; 'increase' is over its peak before the "
      "load");
  PrintTable();
  if (lookupGrowth.size() >= 2 && wanted("lookup")) {
    const auto& first = lookupGrowth.front();
    const auto& last = lookupGrowth.back();
    std::printf("\nlookup time growth %s -> %s (log(size) grows %.2fx):", first.size.c_str(),
                last.size.c_str(), std::log(last.entries) / std::log(first.entries));
    const char* names[] = {"inireg store", "inireg engine", "SimpleIni", "QSettings", "Boost"};
    for (int i = 0; i < 5; ++i)
      std::printf(" %s %.2fx;", names[i], last.nanoseconds[i] / first.nanoseconds[i]);
    std::printf("\n");
  }
  return 0;
}
