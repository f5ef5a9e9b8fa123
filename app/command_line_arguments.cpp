#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>

#include "app/book_record.h"  // programVersion
#include "app/command_line.h"

namespace varnel {
namespace {

struct CommandForm {
  std::string_view word;
  CliCommand command;
  std::size_t minOperands;
  std::size_t maxOperands;  // SIZE_MAX: any number
};
// download's operand count depends on --all and is checked on its own.
constexpr CommandForm kCommands[] = {
    {"editions", CliCommand::editions, 0, 0},
    {"subjects", CliCommand::subjects, 1, 1},
    {"books", CliCommand::books, 2, 2},
    {"download", CliCommand::download, 1, SIZE_MAX},
    {"pdf", CliCommand::pdf, 1, 1},
    {"doctor", CliCommand::doctor, 0, 0},
    {"site-profile", CliCommand::siteProfile, 0, 0},
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What CLI11 left over when no command word was given: single-dash options,
// each with the value after it, belong to Qt; anything else is a mistake.
std::string windowArgumentError(const std::vector<std::string>& leftOver) {
  for (std::size_t i = 0; i < leftOver.size(); ++i) {
    const std::string& arg = leftOver[i];
    if (startsWith(arg, "--")) return "未知选项 (unknown option): " + arg;
    if (startsWith(arg, "-") && arg.size() > 1) {
      if (i + 1 < leftOver.size() && !startsWith(leftOver[i + 1], "-")) ++i;
      continue;
    }
    return "未知命令 (unknown command): " + arg;
  }
  return {};
}

std::string downloadOperandError(const CommandLine& cl) {
  const std::size_t count = cl.operands.size();
  if (cl.all && count > 2) return "--all 与书目不能同时给出 (give books or --all, not both)";
  if (!cl.all && count == 2) {
    return "缺少书目: 请给出序号、书名或 --all (missing BOOK or --all)";
  }
  if (!cl.all && count < 2) return "download: 缺少参数 (missing argument)";
  return {};
}

std::string operandError(const CommandForm& form, const CommandLine& cl) {
  if (form.command == CliCommand::download) return downloadOperandError(cl);
  const std::string word(form.word);
  if (cl.operands.size() < form.minOperands) return word + ": 缺少参数 (missing argument)";
  if (cl.operands.size() > form.maxOperands) return word + ": 参数过多 (too many arguments)";
  return {};
}

// Two spellings CLI11 2.1.2 reads otherwise: "--dir=" (nothing after '=') takes
// the next argument as its value, and "-d=DIR" keeps the '=' in the value.
std::vector<std::string> spelledOut(const std::vector<std::string>& args) {
  std::vector<std::string> spelled;
  for (const std::string& arg : args) {
    if (startsWith(arg, "--") && arg.size() > 3 && arg.find('=') == arg.size() - 1) {
      spelled.push_back(arg.substr(0, arg.size() - 1));
      spelled.emplace_back();
    } else if (startsWith(arg, "-d=")) {
      spelled.push_back("-d");
      spelled.push_back(arg.substr(3));
    } else {
      spelled.push_back(arg);
    }
  }
  return spelled;
}

// Every option belongs to the top level; the commands fall through to it, so
// an option may stand before or after the command word.
void addOptions(CLI::App& app, CommandLine& cl, bool& help, bool& version) {
  app.add_flag("-h,--help", help);
  app.add_flag("-V,--version", version);
  app.add_flag("-q,--quiet", cl.quiet);
  app.add_flag("-v,--verbose", cl.verbose);
  app.add_flag("--open", cl.open);
  app.add_flag("--pdf", cl.pdf);
  app.add_flag("--all", cl.all);
  app.add_flag("--insecure", cl.insecure);
  app.add_flag("--refetch", cl.refetch);
  app.add_flag("--partial", cl.partial);
  app.add_option("-d,--dir", cl.directory)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--base-url", cl.baseUrl)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--site", cl.siteFile)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  CLI::App app("varnel", "varnel");
  app.set_help_flag();  // the bilingual helpText() instead of CLI11's
  app.allow_extras();   // judged below: Qt's options are welcome only without a command
  app.fallthrough();
  app.require_subcommand(0, 1);
  bool help = false;
  bool version = false;
  addOptions(app, cl, help, version);
  for (const CommandForm& form : kCommands) {
    app.add_subcommand(std::string(form.word))->add_option("operands", cl.operands);
  }

  // CLI11 2.1.2 ends a command at "--" once its operands are satisfied and goes
  // on parsing options in the parent, so the arguments after "--" never reach it.
  const auto optionsEnd = std::find(args.begin(), args.end(), "--");
  const std::vector<std::string> literal(optionsEnd == args.end() ? optionsEnd : optionsEnd + 1,
                                         args.end());
  std::vector<std::string> reversed = spelledOut({args.begin(), optionsEnd});
  std::reverse(reversed.begin(), reversed.end());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    cl.command = CliCommand::help;
    cl.error = std::string("用法错误 (usage error): ") + error.what();
    return cl;
  }
  if (help || version) {
    cl.command = help ? CliCommand::help : CliCommand::version;
    return cl;
  }

  const std::vector<CLI::App*> given = app.get_subcommands();
  std::vector<std::string> leftOver = app.remaining(true);
  if (given.empty()) {
    leftOver.insert(leftOver.end(), literal.begin(), literal.end());
    cl.error = windowArgumentError(leftOver);
    if (!cl.error.empty()) cl.command = CliCommand::help;
    return cl;  // the window, with whatever Qt options were given
  }
  const auto form =
      std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const CommandForm& f) { return f.word == given[0]->get_name(); });
  cl.command = form->command;
  cl.operands.insert(cl.operands.end(), literal.begin(), literal.end());
  if (!leftOver.empty()) {
    cl.error = (startsWith(leftOver[0], "-") ? "未知选项 (unknown option): "
                                             : "多余的参数 (unexpected argument): ") +
               leftOver[0];
  } else if (cl.directory && cl.directory->empty()) {
    cl.error = "--dir 不能为空 (--dir must name a directory)";
  } else if (cl.siteFile && cl.siteFile->empty()) {
    cl.error = "--site 不能为空 (--site must name a file)";
  } else {
    cl.error = operandError(*form, cl);
  }
  if (!cl.error.empty()) cl.command = CliCommand::help;
  return cl;
}

std::string versionText() { return "Varnel下载器 " + std::string(programVersion()); }

// The whole --help text, Chinese first.
constexpr std::string_view kHelpText = R"(用法:
  varnel                                     打开窗口
  varnel [选项] editions                     列出专版分类, 每行一个
  varnel [选项] subjects 专版                列出该专版的学科分类
  varnel [选项] books 专版 学科              列出书目: 序号<TAB>书名<TAB>页数
  varnel [选项] download 专版 学科 书目...   下载书目 (序号或完整书名, 可给多个)
  varnel [选项] download 专版 [学科] --all   下载该学科 (不给学科时: 该专版所有学科) 的全部书目
  varnel [选项] pdf 书文件夹                 把已下载的书做成一个PDF (放在文件夹旁边)
  varnel [选项] doctor                       逐步检查网站, 说明哪一步、哪个配置键失效
  varnel site-profile                        输出内置的网站配置, 作为 site.json 的起点
  varnel --help | --version

选项 (可放在命令前或后; -- 之后的参数都不是选项):
  -d, --dir 目录  书放在哪里: 此目录, 否则 conf.ini 的 DownloadPath, 否则当前目录
                  (不写入 conf.ini; 空目录是用法错误)
  -q, --quiet     不显示进度, 只输出结果和错误
  -v, --verbose   在标准错误上列出每次页面请求: 地址、状态码、第几次尝试、用时
  --base-url URL  目录网站的地址 (否则环境变量 VARNEL_BASE_URL, 否则内置地址)
  --site 文件     网站配置文件 (否则 conf.ini 旁边的 site.json, 否则内置配置);
                  有错误时不使用, 退出状态 2
  --all           下载全部书目
  --open          每本书下载完成后打开其文件夹
  --pdf           每本完整下载的书另存为一个PDF
  --refetch       下载: 已在磁盘上的页面也重新获取
  --partial       pdf: 缺页时也导出 (并说明缺了哪些页)
  --insecure      不验证网站的证书 (同 conf.ini 中 IgnoreCertificateErrors=True)
  -h, --help      显示本说明
  -V, --version   显示版本

进度显示在标准错误上; 每本完整下载的书, 其文件夹路径输出到标准输出;
没下载完整的书在标准错误上列出缺少的页.
命令行运行不会写 conf.ini, 只写书的文件夹.
退出状态 (取第一个适用的):
  2    用法错误 (未知命令、选项、专版、学科或书目; 网站配置文件有错误)
  130  被 Ctrl-C 或 SIGTERM 中断
  3    无法读取网站 (无法连接、域名无法解析、证书、超时或超出大小限制、重定向循环)
  4    读到了网站但无法理解 (表达式没有找到内容、书页没有图片路径)
  1    有书没有下载完整
  0    全部完成

Usage:
  varnel                                     open the window
  varnel [OPTIONS] editions                  list the editions (专版分类), one per line
  varnel [OPTIONS] subjects EDITION          list the subjects (学科分类) of an edition
  varnel [OPTIONS] books EDITION SUBJECT     list the books: number<TAB>title<TAB>pages
  varnel [OPTIONS] download EDITION SUBJECT BOOK...
                                             download books (row numbers or exact titles)
  varnel [OPTIONS] download EDITION [SUBJECT] --all
                                             every book of the subject (without a subject:
                                             of every subject of the edition)
  varnel [OPTIONS] pdf FOLDER                make one PDF of a downloaded book, beside its folder
  varnel [OPTIONS] doctor                    walk the site step by step; name the step and the
                                             profile key that broke
  varnel site-profile                        print the built-in site profile, a site.json to start from
  varnel --help | --version

Options (before or after the command; nothing after -- is an option):
  -d, --dir DIR   where books go: DIR, else DownloadPath from conf.ini, else the current
                  directory (conf.ini is never written; an empty DIR is a usage error)
  -q, --quiet     no progress line: results and errors only
  -v, --verbose   each page request on standard error: address, status, attempt, time
  --base-url URL  the catalogue site's address (else the environment variable
                  VARNEL_BASE_URL, else the built-in address)
  --site FILE     the site profile (else site.json beside conf.ini, else the built-in one);
                  a file with an error is not used and the run ends with status 2
  --all           download every book
  --open          open each finished book's folder
  --pdf           also write each complete book as one PDF
  --refetch       download: fetch every page again, also those already on disk
  --partial       pdf: export although pages are missing (and say which)
  --insecure      do not verify the site's certificate (as IgnoreCertificateErrors=True in conf.ini)
  -h, --help      show this text
  -V, --version   show the version

Progress goes to standard error; the folder of each complete book is printed on standard
output; an incomplete book is named on standard error with its missing pages.
A command-line run writes nothing but the book folders (never conf.ini).
Exit status (the first that applies):
  2    usage error (unknown command, option, edition, subject or book; a site profile
       with an error)
  130  interrupted by Ctrl-C or SIGTERM
  3    the site could not be read (no connection, name not found, certificate, time or
       size limit, redirect loop)
  4    the site was read but not understood (an expression found nothing, a book page
       without an image path)
  1    a book is incomplete
  0    all complete
)";

std::string helpText() { return std::string(kHelpText); }

}  // namespace varnel
