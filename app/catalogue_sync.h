// Catalogue synchronisation: the front page's category menu becomes the
// CategoryStore (edition -> subject -> book-list address) and fills
// 组合框_专版分类. Runs once per program run, on a background thread.
#pragma once

#include <string_view>
#include <vector>

#include "app/controls.h"
#include "htmlquery/html_query.h"
#include "text/text.h"

namespace varnel {

// Creation handler of MainWindow: sets BaseUrl, starts the worker pool,
// disables both combo boxes and starts runCatalogueSync on its own thread.
void launchCatalogueSync(Controls& controls);
// "重试" after a failed synchronisation: hides the button and runs
// runCatalogueSync again on its own thread, both combo boxes disabled.
void onRetrySync(Controls& controls);
// The user chose an item of 组合框_专版分类: its subjects fill 组合框_学科分类
// with none current (no handler runs) until the user chooses one.
void onEditionSelected(Controls& controls);

// Thread routine: rebuilds the store from baseUrl()'s front page, then calls
// fillEditionCombo. A failed fetch or a changed layout stores nothing; a site
// that cannot be reached says so instead of blaming the layout.
void runCatalogueSync(Controls& controls);

// Lists the store's editions in 组合框_专版分类 with none current (no handler
// runs). With at least one edition: "数据同步成功!" and both combo boxes
// enabled; otherwise "数据同步失败!网站框架已更新!", both stay disabled and
// the "重试" button shows.
void fillEditionCombo(Controls& controls);

// The texts an expression selects on a page (the query's other results unused).
std::vector<Text> queryTexts(HtmlQuery& html, std::string_view page, std::string_view expression);

// The CategoryStore path of an edition, or of a subject of it: each name with
// '\\', '.', '[' and ']' escaped, so a name from the site is always one level
// of the store, however it is spelled.
Text storePath(std::string_view edition);
Text storePath(std::string_view edition, std::string_view subject);

}  // namespace varnel
