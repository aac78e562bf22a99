// The registry store and the tables cache as they grow: a read of one value
// (the whole file parsed, as every varn run and driver object does), a write
// of one value (parsed, changed, written), `varn get ComNumber` as a process
// on the same file, and a load and a save of the cache of descriptions for
// 20 x 20, 25 x 30 and 40 x 40 fields (tables x fields).
//
//   build/default/bin/bench_registry [largest file in MB, default 50]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "bench/bench_util.h"
#include "driver/services/tables.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"

using namespace varn;

namespace {

using Clock = std::chrono::steady_clock;

// Seconds of the fastest of `rounds` runs.
double Best(int rounds, const std::function<void()>& once) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    once();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// `keys` keys of three values each, or one key of `values` values.
std::string RegistryText(int keys, int values) {
  std::string text = "Windows Registry Editor Version 5.00\r\n";
  for (int k = 0; k < keys; ++k) {
    text += "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Проверка\\Ключ " + std::to_string(k) +
            "]\r\n\"Имя\"=\"значение " + std::to_string(k) +
            "\"\r\n\"Number\"=dword:00000001\r\n\"Size\"=dword:00000002\r\n";
  }
  if (values > 0) {
    text += "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Много]\r\n";
    for (int v = 0; v < values; ++v)
      text += "\"Значение " + std::to_string(v) + "\"=dword:00000001\r\n";
  }
  return text;
}

void Row(const char* what, size_t bytes, double read, double write, double varn) {
  std::printf("%-22s %9.2f MB  read %8.1f ms  write %8.1f ms  varn get %8.1f ms\n", what,
              static_cast<double>(bytes) / 1e6, read * 1e3, write * 1e3, varn * 1e3);
}

// One file: a read, a write, a varn run.
double FileFigures(const char* what, const std::string& text, int rounds) {
  const std::string path = RegistryFilePath();
  ReplaceFileAtomically(path, text);
  Registry reg = Registry::Default();
  const double read = Best(rounds, [&] {
    if (reg.ReadDword("SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param", "ComNumber")) std::abort();
  });
  uint32_t n = 0;
  const double write =
      Best(rounds, [&] { reg.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "LogOn", ++n); });
  const std::string cmd = std::string("'") + VARN_PROGRAM + "' get ComNumber >/dev/null";
  const double varn = Best(rounds, [&] {
    if (std::system(cmd.c_str()) != 0) std::abort();
  });
  Row(what, text.size(), read, write, varn);
  return read / static_cast<double>(text.size());
}

// `tables` tables of `fields` fields, one row each, saved and loaded.
void CacheFigures(int tables, int fields) {
  RemoveFile(RegistryFilePath());
  TTables saved;
  saved.Key = "A.112";
  for (int t = 1; t <= tables; ++t) {
    TTable& table = saved.Add({"Таблица " + std::to_string(t), t, 1, fields});
    for (int f = 1; f <= fields; ++f) {
      TFldRec rec;
      rec.Name = "Поле " + std::to_string(f);
      rec.Number = f;
      rec.Table = t;
      rec.Row = 1;
      rec.Size = 4;
      rec.MaxValue = 99;
      table.Fields().Add(rec);
    }
  }
  const double save = Best(3, [&] { saved.SaveToRegistry(); });
  TTables loaded;
  loaded.Key = saved.Key;
  const double load = Best(3, [&] {
    if (!loaded.LoadFromRegistry() || loaded.Count() != tables) std::abort();
  });
  const auto size = ReadWholeFile(RegistryFilePath())->size();
  std::printf("cache %2d x %2d fields     %9.2f MB  load %8.1f ms  save %8.1f ms\n", tables, fields,
              static_cast<double>(size) / 1e6, load * 1e3, save * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const double largestMb = argc > 1 ? std::atof(argv[1]) : 50;
  bench::TempFolder folder;
  std::printf("bench_registry: best of 3 (the largest file: 1)\n");
  CacheFigures(20, 20);
  CacheFigures(25, 30);
  CacheFigures(40, 40);
  FileFigures("1,000 keys", RegistryText(1000, 0), 3);
  FileFigures("4,000 keys", RegistryText(4000, 0), 3);
  const double small = FileFigures("16,000 keys", RegistryText(16000, 0), 3);
  FileFigures("16,000 values, 1 key", RegistryText(0, 16000), 3);
  // About 140 bytes a key.
  double large = small;
  if (largestMb >= 10) large = FileFigures("10 MB", RegistryText(71000, 0), 3);
  if (largestMb >= 50) large = FileFigures("50 MB", RegistryText(355000, 0), 1);
  // Time per byte of the largest file over that of the 16,000 keys: 1 for
  // a parse that stays linear.
  std::printf("ratio: %.2f\n", large / small);
  return 0;
}
