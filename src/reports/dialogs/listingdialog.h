#pragma once
#include "kinds.h"
#include "paramdialog.h"

#include <memory>
#include <optional>

class QComboBox;

namespace lectoria {

class QueryTableModel;

// Fills an editable category list: `first` (meaning every category), then
// one entry per row of the statement, the id, ":" and the trimmed name. The
// first entry ends up chosen. Throws DbError; the list then holds `first` only.
void fillCategoryList(QComboBox *list, const QString &first, const QString &statement, const QString &idColumn,
                      const QString &nameColumn);

// The category an operator chose or typed into a category list: none for an
// entry without ":" (every category), else the id before the first ":". An
// id that is no whole number, or that no entry of the list carries, would
// list something the operator did not ask for (every category, or nothing
// that looks like a result): it throws Error naming the typed text, with
// "没有这个类别：" (`what` "类别") or "没有这个子类别：" (`what` "子类别").
std::optional<int> chosenCategory(const QComboBox *list, const QString &what);

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
