#pragma once
#include <QString>

namespace lectoria {

// The maker's helper library: protection of the stored database credentials.

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

} // namespace lectoria
