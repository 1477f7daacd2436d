#pragma once
#include "libdb.h"

#include <QString>

namespace lectoria {

// The connection module, without windows: reads the parameters from the
// machine settings and opens LibDB. ConnectionState becomes "OK" once the
// connection has been made. The console shows its splash between the two
// steps; the runner calls connect().
class TLibDM {
public:
    // The parameters of the machine settings, the stored user name and
    // password unprotected. Settings that exist but cannot be read are
    // reported in the standard error box (the defaults are used). Sets the
    // splash message of the connecting step.
    static ConnectionParams readParams();
    // Opens LibDB. False, with the driver's reason in *why (for the
    // terminal, and below the connection dialog's warning lines), when the
    // connection cannot be made.
    static bool open(const ConnectionParams &params, QString *why = nullptr);
    // Both steps.
    static bool connect(QString *why = nullptr);
};

} // namespace lectoria
