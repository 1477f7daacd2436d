#pragma once
#include "kinds.h"
#include "paramdialog.h"

#include <memory>

class QComboBox;

namespace lectoria {

class QueryTableModel;

// Fills an editable category list: `first` (meaning every category), then
// one entry per row of the statement, the id, ":" and the trimmed name. The
// first entry ends up chosen. Throws DbError; the list then holds `first` only.
void fillCategoryList(QComboBox *list, const QString &first, const QString &statement, const QString &idColumn,
                      const QString &nameColumn);

// The catalogue listing dialog of one kind (objectName T + code + MLP, e.g.
// TDztsMLP): period and category, the matching records in the grid (read as
// the grid scrolls), the listing from btPrint and, except for guided-reading
// articles, the book-style catalogue from btPrint1. Open it owned by the main
// window and modally:
//     ListingDialog dlg(Kind::Dzts, mainWindow);
//     dlg.exec();
class ListingDialog : public ReportParamDialog {
    Q_OBJECT
public:
    ListingDialog(Kind kind, QWidget *owner);
    ~ListingDialog() override;
    Kind kind() const { return m_kind; }

public Q_SLOTS:
    void cbTypeChange();
    void cbTypeSChange();

protected:
    QStringList refreshStatement() const override;
    QVector<GridColumn> gridColumns() const override;
    void prepareRefresh(ReportRequest &request) override;
    int runRefresh() override;
    std::unique_ptr<ReportLayout> createLayout(const ReportRequest &request, int button) override;

private:
    void releaseGridQuery();

    Kind m_kind;
    QComboBox *m_type = nullptr;
    QComboBox *m_typeS = nullptr; // periodical articles: sub-categories
    QueryTableModel *m_model = nullptr;
};

// The listing dialog the menu command of a kind opens.
std::unique_ptr<ReportParamDialog> makeListingDialog(Kind kind, QWidget *owner);

} // namespace lectoria
