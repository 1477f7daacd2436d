#pragma once

class QWidget;

namespace lectoria {

// The main window's "数据库整理" command: asks first, then tidies up and says
// so; a failing delete is shown in the standard error box instead. The wait
// cursor is shown over owner meanwhile.
void tidyUpDatabase(QWidget *owner);

} // namespace lectoria
