#pragma once
#include <QString>

namespace lectoria {

// How a result grid column shows its query field; the kinds' tables
// describe their dialogs' grids with it.
enum class GridFormat { Text, Number, Date };

struct GridColumn {
    QString field;
    QString heading;
    GridFormat format = GridFormat::Text;
};

} // namespace lectoria
