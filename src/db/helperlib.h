#pragma once
#include <QString>

namespace lectoria {

// The maker's helper library: protection of the stored database credentials
// and finishing of saved report files.

// Protection is obfuscation, not encryption: it keeps the database password
// from being read at a glance in the settings, nothing more. Anyone with the
// program can recover it; protect the settings file with file permissions.
// The protected form is printable ASCII, unchanged by trimming, and never the
// plain text itself.
QString qyBeSecrectString(const QString &plain);
// Gives back the text given to qyBeSecrectString. A text that is not in the
// protected form (say, a password an administrator typed into the file by
// hand) comes back unchanged.
QString qyDeSecrectString(const QString &secret);

// Report file finishing. Each works in place and synchronously, writing the
// finished file beside the engine's output and renaming it over, so that a
// failure never leaves half a file. The engine's text and CSV files get the
// title line and the header line in front; the HTML file becomes a complete
// document in GBK with the title as its title and heading and the header line
// as the first table row. Failures throw FileError with the system's text.
void qyChangThisTextFile(const QString &fileName, const QString &title, const QString &header, bool flag = true);
void qyChangThisCSVFile(const QString &fileName, const QString &title, const QString &header, bool flag = true);
void qyChangThisHTMLFile(const QString &fileName, const QString &title, const QString &header,
                         int htmlNumber = -100, bool flag = true);

} // namespace lectoria
