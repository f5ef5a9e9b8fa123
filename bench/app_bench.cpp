// The settings file as the download uses it: every page job reads
// "DownloadPath" from conf.ini again, and the settings window writes both keys
// on closing. Ours (a scan of the file for one key; a rewrite through a
// temporary file for saving) against QSettings with a
// fresh object per read. QSettings keeps parsed files in a process-wide cache
// checked against the modification time, so its "fresh" read opens nothing;
// ours opens and scans the file every time, as the settings require. The
// summary prints each peer beside ours with the ratio peer / ours.
#include <benchmark/benchmark.h>

#include <QSettings>
#include <QString>

#include <unistd.h>  // getpid

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/ini_file.h"

#include "bench/side_by_side_reporter.h"

namespace {

constexpr int kOtherSections = 20;  // a settings file that has grown other content

const std::string& settingsPath() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() /
                     ("varnel_app_bench_" + std::to_string(::getpid()) + ".ini"))
                        .string();
    std::ofstream out(p, std::ios::binary);
    for (int s = 0; s < kOtherSections; ++s) {
      out << "[section" << s << "]\n";
      for (int k = 0; k < 5; ++k) out << "key" << k << "=value " << s << "/" << k << "\n";
    }
    out << "[config]\nDownloadPath=/home/user/下载/books\nOpenOrNot=False\n";
    return p;
  }();
  return path;
}

void ours_ReadDownloadPath(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        varnel::readIniString(settingsPath(), "config", "DownloadPath", "/fallback"));
  }
}

void qsettings_ReadDownloadPath(benchmark::State& state) {
  QString path = QString::fromStdString(settingsPath());
  for (auto _ : state) {
    QSettings settings(path, QSettings::IniFormat);
    benchmark::DoNotOptimize(
        settings.value(QStringLiteral("config/DownloadPath"), QStringLiteral("/fallback"))
            .toString()
            .toStdString());
  }
}

void ours_SaveBothKeys(benchmark::State& state) {
  int n = 0;
  for (auto _ : state) {
    std::string dir = "/home/user/books/" + std::to_string(++n % 7);
    varnel::writeIniString(settingsPath(), "config", "DownloadPath", dir);
    varnel::writeIniString(settingsPath(), "config", "OpenOrNot", (n & 1) ? "True" : "False");
  }
}

void qsettings_SaveBothKeys(benchmark::State& state) {
  QString path = QString::fromStdString(settingsPath());
  int n = 0;
  for (auto _ : state) {
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("config/DownloadPath"),
                      QStringLiteral("/home/user/books/%1").arg(++n % 7));
    settings.setValue(QStringLiteral("config/OpenOrNot"),
                      (n & 1) ? QStringLiteral("True") : QStringLiteral("False"));
    settings.sync();
  }
}

BENCHMARK(ours_ReadDownloadPath);
BENCHMARK(qsettings_ReadDownloadPath);
BENCHMARK(ours_SaveBothKeys);
BENCHMARK(qsettings_SaveBothKeys);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  varnel::bench::SideBySideReporter reporter(18);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove(settingsPath(), ec);
  return 0;
}
