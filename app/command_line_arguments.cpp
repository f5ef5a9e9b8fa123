#include "app/command_line.h"

#include <cstdint>

#include "app/process_state.h"  // kBaseUrlOption

namespace varnel {
namespace {

constexpr std::string_view kVersion = "1.0";

struct CommandSpec {
  std::string_view word;
  CliCommand command;
  std::size_t minOperands;
  std::size_t maxOperands;  // SIZE_MAX: any number
};
constexpr CommandSpec kCommands[] = {
    {"editions", CliCommand::editions, 0, 0}, {"subjects", CliCommand::subjects, 1, 1},
    {"books", CliCommand::books, 2, 2},       {"download", CliCommand::download, 2, SIZE_MAX},
    {"pdf", CliCommand::pdf, 1, 1},
};

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::vector<std::string> words;
  bool optionsEnded = false;
  std::size_t literalFrom = SIZE_MAX;  // words from here on came after "--"
  bool help = false;
  bool version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (optionsEnded && literalFrom == SIZE_MAX) literalFrom = words.size();
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version" || arg == "-V") {
      version = true;
    } else if (arg == std::string(kBaseUrlOption) || arg == "--dir") {
      if (i + 1 >= args.size()) {
        cl.error = arg + " 需要一个值 (needs a value)";
      } else if (arg == "--dir") {
        cl.directory = args[++i];
      } else {
        ++i;  // read by start-up
      }
    } else if (arg.rfind(std::string(kBaseUrlOption) + "=", 0) == 0) {
      // read by start-up
    } else if (arg.rfind("--dir=", 0) == 0) {
      cl.directory = arg.substr(6);
    } else if (arg == "--open") {
      cl.open = true;
    } else if (arg == "--all") {
      cl.all = true;
    } else if (arg == "--insecure") {
      cl.insecure = true;
    } else if (arg == "--pdf") {
      cl.pdf = true;
    } else if (arg.rfind("--", 0) != 0 && i + 1 < args.size() && args[i + 1][0] != '-') {
      words.push_back(arg);  // maybe Qt's "-platform offscreen": decided below
      words.push_back(args[++i]);
    } else {
      words.push_back(arg);
    }
  }
  if (help) {
    cl.command = CliCommand::help;
    return cl;
  }
  if (version) {
    cl.command = CliCommand::version;
    return cl;
  }
  // The first word that is not a single-dash option names the command.
  std::size_t first = 0;
  while (first < words.size() && words[first].size() > 1 && words[first][0] == '-' &&
         words[first].rfind("--", 0) != 0) {
    first += (first + 1 < words.size() && words[first + 1][0] != '-') ? 2 : 1;
  }
  if (first >= words.size()) {
    if (!cl.error.empty()) cl.command = CliCommand::help;
    return cl;  // the window, with whatever Qt options were given
  }
  const std::string& word = words[first];
  const CommandSpec* spec = nullptr;
  for (const CommandSpec& candidate : kCommands) {
    if (candidate.word == word) spec = &candidate;
  }
  if (!spec) {
    cl.command = CliCommand::help;
    if (cl.error.empty()) {
      cl.error = (word.rfind("--", 0) == 0 ? "未知选项 (unknown option): "
                                           : "未知命令 (unknown command): ") +
                 word;
    }
    return cl;
  }
  cl.command = spec->command;
  for (std::size_t i = first + 1; i < words.size(); ++i) {
    if (i < literalFrom && words[i].rfind("--", 0) == 0 && cl.error.empty()) {
      cl.error = "未知选项 (unknown option): " + words[i];
    }
    cl.operands.push_back(words[i]);
  }
  if (cl.error.empty() && cl.operands.size() < spec->minOperands) {
    cl.error = std::string(word) + ": 缺少参数 (missing argument)";
  } else if (cl.error.empty() && cl.operands.size() > spec->maxOperands) {
    cl.error = std::string(word) + ": 参数过多 (too many arguments)";
  }
  return cl;
}

std::string versionText() { return "Varnel下载器 " + std::string(kVersion); }

std::string helpText() {
  return R"(用法:
  varnel                                     打开窗口
  varnel [--base-url URL] editions           列出专版分类, 每行一个
  varnel [--base-url URL] subjects 专版      列出该专版的学科分类
  varnel [--base-url URL] books 专版 学科    列出书目: 序号<TAB>书名<TAB>页数
  varnel [--base-url URL] [--dir 目录] [--open] [--pdf] download 专版 学科 (书目... | --all)
                                             下载书目 (序号或完整书名, 可给多个), --all 下载全部
  varnel pdf 书文件夹                        把已下载的书做成一个PDF (放在文件夹旁边)
  varnel --help | --version

选项:
  --base-url URL  目录网站的地址 (也可用环境变量 VARNEL_BASE_URL)
  --dir 目录      本次下载的目录 (不写入 conf.ini; 不给时读取 conf.ini 的 DownloadPath)
  --open          每本书下载完成后打开其文件夹
  --pdf           每本完整下载的书另存为一个PDF
  --insecure      不验证网站的证书 (同 conf.ini 中 IgnoreCertificateErrors=True)

进度显示在标准错误上; 每本书完成后, 其文件夹路径输出到标准输出.
命令行运行不会写 conf.ini, 只写书的文件夹.
退出状态: 0 全部页面已下载; 1 网站无法读取、书页没有图片路径或有页面失败;
          2 用法错误 (未知命令、选项、专版、学科或书目); 130 被 Ctrl-C 或 SIGTERM 中断.

Usage:
  varnel                                     open the window
  varnel [--base-url URL] editions           list the editions (专版分类), one per line
  varnel [--base-url URL] subjects EDITION   list the subjects (学科分类) of an edition
  varnel [--base-url URL] books EDITION SUBJECT
                                             list the books: number<TAB>title<TAB>pages
  varnel [--base-url URL] [--dir DIR] [--open] [--pdf] download EDITION SUBJECT (BOOK... | --all)
                                             download books (row numbers or exact titles), or all
  varnel pdf FOLDER                          make one PDF of a downloaded book, beside its folder
  varnel --help | --version

Options:
  --base-url URL  the catalogue site's address (or the environment variable VARNEL_BASE_URL)
  --dir DIR       download directory for this run (conf.ini is not written; without it,
                  DownloadPath from conf.ini is used)
  --open          open each finished book's folder
  --pdf           also write each complete book as one PDF
  --insecure      do not verify the site's certificate (as IgnoreCertificateErrors=True in conf.ini)

Progress goes to standard error; each finished book's folder is printed on standard output.
A command-line run writes nothing but the book folders (never conf.ini).
Exit status: 0 every page arrived; 1 the site could not be read, a book page had no image
path, or pages failed; 2 usage error (unknown command, option, edition, subject or book);
130 interrupted by Ctrl-C or SIGTERM.
)";
}

}  // namespace varnel
