#pragma once
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

namespace lectoria {

// One searchable field offered by the search dialog.
struct TSearchType {
    QString fieldName; // column name, at most 20 characters; empty ends the list
    QString caption;   // what the operator sees
    QChar typeCode;    // C, O, N, D, B, A, T or S
    QString listSource;
};

// The process-wide values through which windows hand data to each other. A
// window writes a value right before it creates the window that reads it; all
// of it lives on the user-interface thread.
struct Session {
    // Connection and start-up
    QString ConnectionState;
    QString SplashMessage;
    bool StartingUp = false;
    QDateTime ServerDate;
    QString DefaultInputMethod;
    QString SchoolName;
    QString TitleText;

    // Operator
    QString OperatorCode;
    QString OperatorPassword;

    // Reports. A null ReportBegin means "no period" (all dates).
    QDate ReportBegin;
    QDate ReportEnd;
    int ExportChoice = 0; // 0 preview, 1 text, 2 comma-separated, 3 HTML
    QString QueryCondition;
    int CustomMargins = 0;
    int MarginTop = 0;
    int MarginBottom = 0;
    int MarginLeft = 0;
    int MarginRight = 0;

    // Search
    QVector<TSearchType> SearchTypes = QVector<TSearchType>(21);
    QString SearchCondition;
};

// The session of this run (the shared unit every window reads).
Session &unGlobal();

// Restores every value to its start-of-run state (tests, and nothing else).
void resetSession();

} // namespace lectoria
