#pragma once

namespace lectoria {

// Loads Qt's own Simplified Chinese texts (the buttons of message boxes, the
// file, print and page set-up dialogs, context menus, Qt's error texts) from
// Qt's translation folder, whatever the machine's language: the console
// speaks Chinese only. False, with a warning, when the translation is not
// installed; Qt's texts then stay English.
bool installQtChineseTexts();

} // namespace lectoria
