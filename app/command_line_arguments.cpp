#include "app/command_line.h"

#include <cstdint>

#include "app/process_state.h"  // kBaseUrlOption

namespace varnel {
namespace {

constexpr std::string_view kVersion = "1.0";

struct CommandForm {
  std::string_view word;
  CliCommand command;
  std::size_t minOperands;
  std::size_t maxOperands;  // SIZE_MAX: any number
};
constexpr CommandForm kCommands[] = {
    {"editions", CliCommand::editions, 0, 0}, {"subjects", CliCommand::subjects, 1, 1},
    {"books", CliCommand::books, 2, 2},       {"download", CliCommand::download, 2, SIZE_MAX},
    {"pdf", CliCommand::pdf, 1, 1},
};

}  // namespace

namespace {

// The arguments split into options (applied to `cl`) and words (the command,
// its operands, and Qt's own options for the window).
struct ScannedArguments {
  std::vector<std::string> words;
  std::size_t literalFrom = SIZE_MAX;  // words from here on came after "--"
  bool help = false;
  bool version = false;
};

// The switch an option without a value sets; null for any other argument.
bool* flagOption(std::string_view arg, CommandLine& cl) {
  if (arg == "--open") return &cl.open;
  if (arg == "--all") return &cl.all;
  if (arg == "--insecure") return &cl.insecure;
  if (arg == "--pdf") return &cl.pdf;
  return nullptr;
}

// Applies one of our options; false when `arg` is not one of them.
bool applyOption(const std::vector<std::string>& args, std::size_t& i, CommandLine& cl,
                 ScannedArguments& scan) {
  const std::string& arg = args[i];
  const std::string baseUrl(kBaseUrlOption);
  if (arg == "--help" || arg == "-h") {
    scan.help = true;
  } else if (arg == "--version" || arg == "-V") {
    scan.version = true;
  } else if (arg == baseUrl || arg == "--dir") {
    if (i + 1 >= args.size()) {
      cl.error = arg + " 需要一个值 (needs a value)";
    } else if (arg == "--dir") {
      cl.directory = args[++i];
    } else {
      ++i;  // the origin is read by start-up
    }
  } else if (arg.rfind(baseUrl + "=", 0) == 0) {
    // read by start-up
  } else if (arg.rfind("--dir=", 0) == 0) {
    cl.directory = arg.substr(6);
  } else if (bool* flag = flagOption(arg, cl)) {
    *flag = true;
  } else {
    return false;
  }
  return true;
}

ScannedArguments scanArguments(const std::vector<std::string>& args, CommandLine& cl) {
  ScannedArguments scan;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (optionsEnded && scan.literalFrom == SIZE_MAX) scan.literalFrom = scan.words.size();
      scan.words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (applyOption(args, i, cl, scan)) {
      continue;
    } else if (arg.rfind("--", 0) != 0 && i + 1 < args.size() && args[i + 1][0] != '-') {
      scan.words.push_back(arg);  // maybe Qt's "-platform offscreen": decided later
      scan.words.push_back(args[++i]);
    } else {
      scan.words.push_back(arg);
    }
  }
  return scan;
}

// Index of the word naming the command: the first that is not a single-dash
// option (with its value) meant for Qt.
std::size_t commandWordIndex(const std::vector<std::string>& words) {
  std::size_t first = 0;
  while (first < words.size() && words[first].size() > 1 && words[first][0] == '-' &&
         words[first].rfind("--", 0) != 0) {
    first += (first + 1 < words.size() && words[first + 1][0] != '-') ? 2 : 1;
  }
  return first;
}

const CommandForm* findCommand(std::string_view word) {
  for (const CommandForm& candidate : kCommands) {
    if (candidate.word == word) return &candidate;
  }
  return nullptr;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  const ScannedArguments scan = scanArguments(args, cl);
  if (scan.help || scan.version) {
    cl.command = scan.help ? CliCommand::help : CliCommand::version;
    return cl;
  }
  const std::size_t first = commandWordIndex(scan.words);
  if (first >= scan.words.size()) {
    if (!cl.error.empty()) cl.command = CliCommand::help;
    return cl;  // the window, with whatever Qt options were given
  }
  const std::string& word = scan.words[first];
  const CommandForm* form = findCommand(word);
  if (!form) {
    cl.command = CliCommand::help;
    if (cl.error.empty()) {
      cl.error = (word.rfind("--", 0) == 0 ? "未知选项 (unknown option): "
                                           : "未知命令 (unknown command): ") +
                 word;
    }
    return cl;
  }
  cl.command = form->command;
  for (std::size_t i = first + 1; i < scan.words.size(); ++i) {
    const std::string& operand = scan.words[i];
    if (i < scan.literalFrom && operand.rfind("--", 0) == 0 && cl.error.empty()) {
      cl.error = "未知选项 (unknown option): " + operand;
    }
    cl.operands.push_back(operand);
  }
  if (cl.error.empty() && cl.operands.size() < form->minOperands) {
    cl.error = word + ": 缺少参数 (missing argument)";
  } else if (cl.error.empty() && cl.operands.size() > form->maxOperands) {
    cl.error = word + ": 参数过多 (too many arguments)";
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
