#pragma once
#include <QStringList>

class QWidget;

namespace lectoria {

// Field tags of the input-method rule: 99 marks a field for Chinese text,
// 98 a field for codes. The tag is the widget's "tag" property.
constexpr int ChineseTextTag = 99;
constexpr int CodeTag = 98;

// The shared input-method rule: fields tagged 99 get DefaultInputMethod as
// their input method, fields tagged 98 have input methods switched off while
// they have the focus; other fields are left alone. Qt offers no per-field
// choice of a named input method, so the name is kept on the field (property
// "inputMethod") for the platform integration that can use it.
void ApplyInputMethods(QWidget *window);

// The input methods this desktop lists (ibus or fcitx engines); may be empty.
QStringList installedInputMethods();

} // namespace lectoria
