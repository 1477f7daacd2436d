#pragma once
#include "statisticsdialog.h"
#include "subcategorylayout.h"

#include <memory>

class QComboBox;
class QRadioButton;
class QTableView;

namespace lectoria {

// The periodical-article statistics dialog (objectName TBklwTJP): the
// statistics by category of every kind (layout TBklwTJ) or, with the scope
// "统计到小类", the counts per category and sub-category for every category
// or one (grid DBGrid2, layout TBklwTJ1). Open it owned by the main window
// and modally:
//     ArticleStatisticsDialog dlg(mainWindow);
//     dlg.exec();
class ArticleStatisticsDialog : public StatisticsDialog {
    Q_OBJECT
public:
    explicit ArticleStatisticsDialog(QWidget *owner);
    ~ArticleStatisticsDialog() override;

    bool bySubCategory() const;

public Q_SLOTS:
    void RadioButton1Click();
    void cbTypeChange();

protected:
    QStringList refreshStatement() const override;
    void prepareRefresh(ReportRequest &request) override;
    int runRefresh() override;
    std::unique_ptr<ReportLayout> createLayout(const ReportRequest &request, int button) override;

private:
    QRadioButton *m_byCategory = nullptr;
    QRadioButton *m_bySub = nullptr;
    QComboBox *m_type = nullptr;
    QTableView *m_grid2 = nullptr;
};

// The dialog the menu command "报刊论文分类统计" opens.
std::unique_ptr<ReportParamDialog> makeArticleStatisticsDialog(QWidget *owner);

} // namespace lectoria
