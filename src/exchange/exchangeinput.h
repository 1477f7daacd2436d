#pragma once
#include "errors.h"

#include <QFile>
#include <QString>

#include <memory>

class QTemporaryFile;

namespace lectoria {

// How the bytes of an exchange file are read. Exchange files are GBK; a file
// that an editor saved again as UTF-8 can be read as what it is, when the
// operator says so.
enum class TextEncoding { Gbk, Utf8 };

// What the bytes of a file are, fed to it in pieces of any size.
class EncodingCheck {
public:
    void add(const char *data, qsizetype size);
    // After the last piece: an unfinished character at the end is a bad byte.
    void finish();

    bool gbk() const { return m_gbkBadLine == 0; }
    bool utf8() const { return m_utf8BadLine == 0; }
    // Well-formed UTF-8 with characters beyond ASCII, not to be read as GBK:
    // not GBK at all, or, as short GBK texts can be well-formed UTF-8 by
    // chance ("图" is), read as UTF-8 mostly Chinese (a byte-order mark counts).
    bool looksUtf8() const
    {
        return utf8() && m_utf8BeyondAscii > 0 && (!gbk() || 2 * m_utf8Chinese > m_utf8BeyondAscii);
    }
    // The line (from 1) of the first byte that is not part of a character; 0: none.
    qint64 firstNonGbkLine() const { return m_gbkBadLine; }
    qint64 firstNonUtf8Line() const { return m_utf8BadLine; }

private:
    void checkGbk(const char *data, qsizetype size);
    void checkUtf8(const char *data, qsizetype size);

    qint64 m_lines = 1;     // the line the next piece begins on
    QByteArray m_gbkCarry;  // an unfinished character from the piece before
    QByteArray m_utf8Carry;
    qint64 m_gbkBadLine = 0;
    qint64 m_utf8BadLine = 0;
    qint64 m_utf8BeyondAscii = 0; // characters beyond ASCII read as UTF-8
    qint64 m_utf8Chinese = 0;     // of them, Chinese ones
};

// A file that looks like UTF-8 was to be read as GBK: nothing was read into
// the database. The console asks whether to read it as UTF-8; the runner
// wants --encoding utf-8.
class LooksUtf8Error : public FileError {
public:
    using FileError::FileError;
};

// The file of an import, opened and its bytes checked before a record is
// read. Only a regular file or a pipe is taken: a device (/dev/zero) or a
// folder would be read for ever or not at all. A pipe is taken into a
// temporary file first, as it is read only once. A named pipe's first bytes
// are waited for PipeWaitMs at most.
class ExchangeInput {
public:
    static constexpr int PipeWaitMs = 60000;

    // Throws FileError: the file cannot be opened or read, is neither a
    // regular file nor a pipe, or does not hold text in the encoding (with
    // LooksUtf8Error when GBK was asked for and the bytes are UTF-8).
    ExchangeInput(const QString &path, TextEncoding encoding);
    ~ExchangeInput();
    ExchangeInput(const ExchangeInput &) = delete;
    ExchangeInput &operator=(const ExchangeInput &) = delete;

    // The file, at its start.
    QIODevice &device();

private:
    QFile m_file;
    std::unique_ptr<QTemporaryFile> m_copy;
};

} // namespace lectoria
