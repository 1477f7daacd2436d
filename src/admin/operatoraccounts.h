#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace lectoria {

// One account of the operator table www_admin as the accounts editor sees it
// (the password is never read: the editor does not show it).
struct OperatorRow {
    QString code;
    QString name;
    QDateTime lastLogin;
    QStringList rights = QStringList(19, QStringLiteral("0")); // ad_auth1..ad_auth19, "1" granted
};

// The operator table, without widgets. The web site shares the table, so
// writes name only the columns the editor changes.
namespace OperatorAccounts {

constexpr int RightCount = 19;

// The rights the console itself honours, by their number n (column ad_authn).
enum class Right : int {
    None = 0,
    DataBackup = 15,     // "数据备份": backup, tidy-up, export, import
    UserManagement = 19, // "人员管理": the accounts editor
};
constexpr int UserManagementRight = int(Right::UserManagement);

// One operator as login sees it: the stored code and password trimmed and
// the rights by number.
struct Operator {
    QString code;
    QString password;
    QStringList rights = QStringList(RightCount, QStringLiteral("0"));
    bool has(Right right) const;
};

// The one statement by which an operator is looked up: every column of the
// row whose code is the given one, its quotes doubled (a code holding a quote
// simply finds no row).
QString lookupStatement(const QString &code);
// The operator with that code, or nothing when there is none.
std::optional<Operator> find(const QString &code);

// The login rule: the code must name an operator and the password typed must
// be the stored one (trimmed, compared exactly).
enum class LoginFailure { None, NoSuchOperator, WrongPassword };
struct LoginResult {
    LoginFailure failure = LoginFailure::None;
    Operator who; // filled when failure is None
};
LoginResult login(const QString &code, const QString &password);

// Stores a new password for the operator with that code (both with their
// quotes doubled). Throws DbError.
void changePassword(const QString &code, const QString &password);

// The rights in the order the editor shows them (ad_auth19 first), by number.
const QVector<int> &rightOrder();
// Check box caption and grid title of right n (1..19).
QString rightCaption(int n);
QString rightTitle(int n);

// The rows meeting filter (a search condition; empty for all), ordered by code.
QStringList selectStatement(const QString &filter);
QVector<OperatorRow> load(const QString &filter);

// The duplicate check for a new code: the code trimmed, its quotes doubled.
QStringList duplicateCheck(const QString &code);
bool codeInUse(const QString &code);

// A new account: every column but the last login time.
void insert(const OperatorRow &row, const QString &password);
// Writes the columns of after that differ from before (the code never changes).
void update(const OperatorRow &before, const OperatorRow &after);
void remove(const QString &code);

} // namespace OperatorAccounts
} // namespace lectoria
