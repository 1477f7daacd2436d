#!/usr/bin/env python3
"""A small TDS 7.4 server for the tests: SQL Server on the wire, SQLite behind it.

Usage:
    python3 tdsserver.py DATABASE.db [--port-file FILE] [--log FILE]
                         [--tls-cert PEM [--tls-force]]

It listens on a free loopback port chosen by the system and prints "PORT <n>"
as its first line on stdout (and writes the number to --port-file if given).
It stops when its stdin closes or on SIGTERM (with --control-file, when its
control connection closes: see main()). While it runs, each line on
its stdin is a control command (see CONTROL below: "ping", and what the
fault and login tests need); it answers each with one line on stdout, "OK"
and a result, or "ERR" and why. Connect with FreeTDS's ODBC
driver, e.g.

    DRIVER={/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so};SERVER=127.0.0.1;
    PORT=<n>;DATABASE=www;TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;PWD=x

Add Language=british (or another language with days first) to read dashed
date literals as such a login does.

With --tls-cert (a PEM file holding a certificate and its key) logins are
made over TLS as SQL Server makes them: FreeTDS's Encryption=request gets
the login packet encrypted, Encryption=require (or --tls-force) the whole
connection; without it the server cannot encrypt, and a client that
requires it gives up. The control command "browser INSTANCE" answers the
SQL Server Browser on loopback UDP 1434, so that SERVER=127.0.0.1\INSTANCE
without PORT finds this server. The log then has "tls login", "tls all" and
"browser INSTANCE" lines too.

Faults, switched on through the control channel (the commands "cut",
"freeze", "thaw", "pace" and "faults" below "control commands"), each armed
for one statement: "cut rows N" closes the connection after the first N
rows of the next result with more rows; "cut bytes N" after the first N
bytes of the answer to the next statement; "freeze" stops every answer
(the sockets stay open) until "thaw"; "freeze rows N" sends the first N rows
of the next longer result and then nothing; "freeze when ..." answers
nothing to that statement. Add "when WORDS" to wait for a statement whose
text holds WORDS (case-insensitive). A frozen statement's connection closes
at the next "thaw". "pace SECONDS" sends the packets of each answer that
many seconds apart (a slow but live server; 0 ends it).

Locks are held and waited for as SQL Server does under READ COMMITTED (see
SessionLocks), sp_getapplock and sp_releaseapplock included; the control
commands "hold", "release" and "locks" let another session hold a lock, and
"logins" tells the user names and passwords that logged in (LOGIN7's
password decoded), for the tests of credentials.

--log FILE appends one line per request ("login", "batch <first words>",
"rpc <procedure> <first words>", "tm <begin|commit|rollback|save>",
"attention"), so that tests can count round trips.

What it is: a stand-in for the wire, not a database. Any login is accepted,
with every right unless "deny" (a control command) took some from its name.
It answers the way SQL Server 2019 does where the console depends on it:
    - the database collation is Chinese_PRC_CI_AS (LCID 0x0804, code page 936);
      CHAR(n) columns go out as CHAR in that collation, blank-padded to n GBK
      bytes, VARCHAR(n) as VARCHAR, TEXT as the legacy TEXT type, INT as INT,
      DATETIME as DATETIME; all text in GBK;
    - text compares and sorts by that collation (collation_key()): ASCII
      letters without case, '=' and '<' not counting trailing blanks (LIKE
      counts them, and SQLite's LIKE is without case for ASCII already),
      other text in GBK order (pinyin for the common characters): on a text
      column compared with a literal or a bound value ("col = ...", "col in
      (...)") and on the text columns of an ORDER BY;
    - a value wider than its CHAR/VARCHAR column (in GBK bytes) fails with
      error 8152, unless what is too much is only trailing blanks, which SQL
      Server drops without a word; a DATETIME column refuses what is no date (242); missing
      tables, columns, syntax errors and duplicate keys get 208, 207, 102/156
      and 2627; any other SQLite error comes as 50000 with SQLite's text;
    - SQL batches, RPCs sp_executesql, sp_prepare, sp_prepexec, sp_execute,
      sp_unprepare, the static server cursors sp_cursoropen/sp_cursorfetch/
      sp_cursorclose, transaction manager requests and T-SQL begin/save/
      rollback/commit tran, attention;
    - BACKUP DATABASE ... TO DISK='file' sends SQL Server's messages over
      several packets and writes the file (a whole copy of the SQLite
      database) only after the last message, unless the client cancelled;
      a missing folder fails with 3201 (operating system error 3), a folder
      named by "backup-unwritable" with 3201 (error 5), each with 3013;
    - SET TEXTSIZE n cuts TEXT and VARCHAR(MAX) values to n bytes (FreeTDS
      sends it when its data source or freetds.conf sets a text size);
    - a login that "deny" took rights from is refused as SQL Server refuses
      it: 262 for CREATE TABLE and BACKUP DATABASE (then 3013), 1088 for
      ALTER TABLE, 229 for a table it may not read or write.

An import's batch of records (many inserts, each in TRY/CATCH under its
own savepoint, answering the records refused: see parse_import_batch) is
recognised by its table variable @lectoria_refused and run as SQL Server
runs it; TRY/CATCH and variables are not understood otherwise.

T-SQL is translated to SQLite by translate() with a table of rules (RULES);
what the console sends is covered, not T-SQL at large. 'yyyymmdd' and
'yyyymmdd hh:mm:ss' literals become SQLite's 'yyyy-mm-dd hh:mm:ss' text, as
do bound DATETIME values; a literal without N holds only what code page
936 can (the rest becomes '?'), as on SQL Server. Statements in a batch are split at semicolons;
leading SET options and transaction statements need none. The collation
is not the key's: a primary key on a CHAR column tells 'a' from 'A' here.
CHAR values are stored unpadded, so LIKE 'x%' matches here what SQL Server
matches, but LIKE '%x' matches a shorter value that SQL Server's padding hides.
One thread and one SQLite connection per client; errors end the batch.

Limit: SQLite does not tell the declared type of a result column. The server
takes the declared types of every table's columns (PRAGMA table_info) and
finds a result column by its name (also through "expr as alias", min/max of a
column), preferring the tables the statement names; otherwise the values
decide (integers INT, reals FLOAT, text that reads as a date DATETIME, other
text VARCHAR). A renamed column therefore loses its CHAR padding.
"""

import argparse
import datetime
import functools
import os
import re
import select
import shutil
import signal
import socket
import socketserver
import sqlite3
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

# Packet types
PKT_BATCH, PKT_RPC, PKT_REPLY, PKT_ATTENTION, PKT_TM, PKT_LOGIN7, PKT_PRELOGIN = 1, 3, 4, 6, 0x0E, 0x10, 0x12

# Tokens
TOK_COLMETADATA, TOK_ROW, TOK_RETURNSTATUS, TOK_RETURNVALUE = 0x81, 0xD1, 0x79, 0xAC
TOK_ERROR, TOK_INFO, TOK_LOGINACK, TOK_ENVCHANGE = 0xAA, 0xAB, 0xAD, 0xE3
TOK_DONE, TOK_DONEPROC, TOK_DONEINPROC = 0xFD, 0xFE, 0xFF
DONE_FINAL, DONE_MORE, DONE_ERROR, DONE_COUNT, DONE_ATTN = 0, 0x1, 0x2, 0x10, 0x20

# Chinese_PRC_CI_AS: LCID 0x0804 with ignore case, kana and width; sort id 0.
COLLATION = struct.pack('<IB', 0x0804 | (0xD0 << 16), 0)
SERVER_CHARSET = 'gbk'
SERVER_NAME = 'LECTORIA-TDS'
PRODUCT_VERSION = bytes([15, 0, 0x07, 0xD0])  # 15.0.2000, SQL Server 2019

RPC_NAMES = {1: 'sp_cursor', 2: 'sp_cursoropen', 3: 'sp_cursorprepare', 4: 'sp_cursorexecute',
             5: 'sp_cursorprepexec', 6: 'sp_cursorunprepare', 7: 'sp_cursorfetch', 8: 'sp_cursoroption',
             9: 'sp_cursorclose', 10: 'sp_executesql', 11: 'sp_prepare', 12: 'sp_execute',
             13: 'sp_prepexec', 14: 'sp_prepexecrpc', 15: 'sp_unprepare'}

EPOCH_1900 = datetime.datetime(1900, 1, 1)
# What a session's SET TEXTSIZE starts at: what SQL Server's ODBC and OLE DB
# drivers set at login (FreeTDS sets nothing unless told to).
TEXTSIZE_DEFAULT = 2147483647
DATE_1 = datetime.date(1, 1, 1)


class SqlError(Exception):
    def __init__(self, number, text, severity=16, state=1, then=None):
        super().__init__(text)
        self.number, self.text, self.severity, self.state = number, text, severity, state
        self.then = then  # a second error SQL Server sends after this one


class Cancelled(Exception):
    pass


class Fault(Exception):
    """A fault armed through the control channel fires in the middle of a
    reply: what goes out before it (prefix), and what then happens ('cut'
    closes the connection, 'freeze' sends nothing more until thaw)."""
    def __init__(self, prefix, action):
        super().__init__(action)
        self.prefix, self.action = prefix, action


# ---------------------------------------------------------------- encoding

def ucs2(s):
    return s.encode('utf-16-le')


def b_varchar(s):
    return bytes([len(s)]) + ucs2(s)


def us_varchar(s):
    return struct.pack('<H', len(s)) + ucs2(s)


def gbk(s):
    # SQL Server stores what its code page cannot hold as '?'.
    return s.encode(SERVER_CHARSET, errors='replace')


def in_code_page(s):
    """A literal without N as SQL Server reads it: in the database's code page."""
    return gbk(s).decode(SERVER_CHARSET)


def envchange(kind, new, old=''):
    if isinstance(new, bytes):
        body = bytes([kind]) + bytes([len(new)]) + new + bytes([len(old)]) + old
    else:
        body = bytes([kind]) + b_varchar(new) + b_varchar(old)
    return struct.pack('<BH', TOK_ENVCHANGE, len(body)) + body


def message(token, number, text, severity, state=1, proc=''):
    body = (struct.pack('<iBB', number, state, severity) + us_varchar(text) + b_varchar(SERVER_NAME)
            + b_varchar(proc) + struct.pack('<i', 1))
    return struct.pack('<BH', token, len(body)) + body


def error_token(e):
    out = message(TOK_ERROR, e.number, e.text, e.severity, e.state)
    return out + error_token(e.then) if e.then else out


def info_token(number, text, state=1):
    return message(TOK_INFO, number, text, 0, state)


def done(token, status, count=None, curcmd=0):
    if count is not None:
        status |= DONE_COUNT
    return struct.pack('<BHHQ', token, status, curcmd, count or 0)


def date_text(dt):
    s = dt.strftime('%Y-%m-%d %H:%M:%S')
    if dt.microsecond:
        s += '.%03d' % (dt.microsecond // 1000)
    return s


DATE_RE = re.compile(r'^(\d{4})-(\d\d)-(\d\d)(?:[ T](\d\d):(\d\d)(?::(\d\d)(?:\.(\d{1,7}))?)?)?(?:Z|[+-]\d\d:?\d\d)?$')


def parse_date(text):
    """A stored date text as datetime, None when it is none or out of DATETIME's range."""
    m = DATE_RE.match(text.strip()) if isinstance(text, str) else None
    if not m:
        return None
    y, mo, d, h, mi, s, frac = m.groups()
    try:
        dt = datetime.datetime(int(y), int(mo), int(d), int(h or 0), int(mi or 0), int(s or 0),
                               int((frac or '0').ljust(6, '0')[:6]))
    except ValueError:
        return None
    return dt if dt.year >= 1753 else None


# ---------------------------------------------------------------- column types

class ColType:
    """A result column's SQL Server type: kind in int, bigint, float, datetime,
    char, varchar, varcharmax, text, nvarchar; size in bytes for char/varchar."""

    def __init__(self, kind, size=0, table=''):
        self.kind, self.size, self.table = kind, size, table

    def type_info(self):
        k = self.kind
        if k in ('int', 'bigint'):
            return bytes([0x26, 4 if k == 'int' else 8])
        if k == 'float':
            return bytes([0x6D, 8])
        if k == 'datetime':
            return bytes([0x6F, 8])
        if k == 'char':
            return b'\xAF' + struct.pack('<H', self.size) + COLLATION
        if k == 'varchar':
            return b'\xA7' + struct.pack('<H', self.size) + COLLATION
        if k == 'varcharmax':
            return b'\xA7\xFF\xFF' + COLLATION
        if k == 'text':
            table = self.table or 't'
            return b'\x23' + struct.pack('<i', 0x7FFFFFFF) + COLLATION + b'\x01' + us_varchar(table)
        return b'\xE7' + struct.pack('<H', 8000) + COLLATION  # nvarchar(4000)

    def value(self, v, textsize=None):
        """v on the wire; a TEXT or VARCHAR(MAX) value is cut to textsize
        bytes, as SET TEXTSIZE makes SQL Server cut it."""
        k = self.kind
        if k in ('int', 'bigint', 'float', 'datetime'):
            if v is None:
                return b'\x00'
            if k == 'int':
                return b'\x04' + struct.pack('<i', int(v))
            if k == 'bigint':
                return b'\x08' + struct.pack('<q', int(v))
            if k == 'float':
                return b'\x08' + struct.pack('<d', float(v))
            dt = parse_date(v) if isinstance(v, str) else None
            if dt is None:
                raise SqlError(241, 'Conversion failed when converting date and/or time from character string.')
            delta = dt - EPOCH_1900
            ticks = round((delta.seconds * 1000 + delta.microseconds / 1000) * 0.3)
            return b'\x08' + struct.pack('<iI', delta.days, ticks)
        if k == 'nvarchar':
            if v is None:
                return b'\xFF\xFF'
            data = ucs2(str(v))[:8000]
            return struct.pack('<H', len(data)) + data
        if v is None:
            if k == 'text':
                return b'\x00'
            return b'\xFF' * 8 if k == 'varcharmax' else b'\xFF\xFF'
        data = v if isinstance(v, bytes) else gbk(str(v))
        if k in ('char', 'varchar') and len(data) > self.size:
            # Wider than SQL Server would have stored it (written past this
            # server): cut at a whole character.
            data = data[:self.size].decode(SERVER_CHARSET, errors='ignore').encode(SERVER_CHARSET)
        if k == 'char':
            data = data.ljust(self.size, b' ')
        if k in ('text', 'varcharmax') and textsize is not None:
            data = data[:textsize]
        if k == 'text':
            return b'\x10' + b'\x00' * 16 + b'\x00' * 8 + struct.pack('<i', len(data)) + data
        if k == 'varcharmax':
            return struct.pack('<Q', len(data)) + (struct.pack('<I', len(data)) + data if data else b'') + b'\0\0\0\0'
        return struct.pack('<H', len(data)) + data


DECL_RE = re.compile(r'^\s*(\w+)\s*(?:\(\s*(\d+|max)\s*(?:,\s*\d+\s*)?\))?', re.I)


def declared_type(decl, table):
    m = DECL_RE.match(decl or '')
    if not m:
        return None
    name, size = m.group(1).lower(), (m.group(2) or '').lower()
    if name in ('int', 'integer', 'smallint', 'tinyint', 'bit'):
        return ColType('int')
    if name == 'bigint':
        return ColType('bigint')
    if name in ('real', 'float', 'double', 'numeric', 'decimal', 'money'):
        return ColType('float')
    if name in ('datetime', 'smalldatetime', 'date', 'datetime2'):
        return ColType('datetime')
    if name in ('char', 'character', 'nchar'):
        return ColType('char', int(size or 1))
    if name in ('varchar', 'nvarchar'):
        return ColType('varcharmax') if size == 'max' else ColType('varchar', int(size or 1))
    if name in ('text', 'ntext'):
        return ColType('text', table=table)
    return None


def type_from_values(values):
    seen = [v for v in values if v is not None]
    if not seen:
        return ColType('int')
    if all(isinstance(v, int) for v in seen):
        return ColType('int') if all(-2**31 <= v < 2**31 for v in seen) else ColType('bigint')
    if all(isinstance(v, (int, float)) for v in seen):
        return ColType('float')
    texts = [v if isinstance(v, str) else str(v) for v in seen]
    if all(parse_date(t) for t in texts):
        return ColType('datetime')
    try:
        longest = max(len(t.encode(SERVER_CHARSET)) for t in texts)
    except UnicodeEncodeError:
        return ColType('nvarchar')
    return ColType('varchar', 8000) if longest <= 8000 else ColType('varcharmax')


# ---------------------------------------------------------------- T-SQL to SQLite

# (pattern, replacement): applied in order to the code of every statement,
# never to the text of its literals.
RULES = [
    # SQLite has its key from the IDENTITY column already.
    (r'^\s*alter\s+table\s+\w+\s+add\s+constraint\s+\w+\s+primary\s+key\b.*$', ''),
    (r'\bgetdate\s*\(\s*\)', "datetime('now','localtime')"),
    (r'^(\s*insert)\s+(?!into\b)(\w+)', r'\1 into \2'),
    (r'\bint(\s+not\s+null)?\s+identity\s*\(\s*\d+\s*,\s*\d+\s*\)', r'integer\1 primary key autoincrement'),
    (r'\bidentity\s*\(\s*\d+\s*,\s*\d+\s*\)(\s+not\s+null)?', r'\1 primary key autoincrement'),
    (r'\bnonclustered\b|\bclustered\b', ''),
    (r'(?:\b\w+\.)?\bdbo\.', ''),
    (r'@@identity\b|\bscope_identity\s*\(\s*\)', 'last_insert_rowid()'),
    (r'\bisnull\s*\(', 'ifnull('),
    (r'\blen\s*\(', 'length('),
    (r'\bdatalength\s*\(', 'length('),
]
RULES = [(re.compile(p, re.I | re.S), r) for p, r in RULES]
TRANCOUNT_RE = re.compile(r'@@trancount\b', re.I)
TOP_RE = re.compile(r'(\bselect\s+(?:distinct\s+)?)top\s+\(?(\d+)\)?\s+', re.I)
DASHED_DATE_RE = re.compile(r'^(\d{4})-(\d\d?)-(\d\d?)(?:\s+(\d\d?):(\d\d)(?::(\d\d)(?:\.(\d{1,3}))?)?)?$')
DATE_LITERAL_RE = re.compile(r'^(\d{4})(\d\d)(\d\d)(?:\s+(\d\d?):(\d\d)(?::(\d\d)(?:\.(\d{1,3}))?)?)?$')


def literal(content, days_first=False):
    """A string literal's text in SQLite form: 'yyyymmdd' and 'yyyymmdd hh:mm:ss'
    (the forms SQL Server reads alike under every language) become SQLite's
    date text, which compares and sorts as stored dates do. Under a login
    language that puts days first (british, deutsch, ...) SQL Server reads
    'yyyy-mm-dd' as year, day, month: so does this server."""
    m = DATE_LITERAL_RE.match(content)
    if m:
        y, mo, d, h, mi, s, ms = m.groups()
        if not (1 <= int(mo) <= 12 and 1 <= int(d) <= 31):
            m = None  # eight digits that are no date
    elif days_first:
        m = DASHED_DATE_RE.match(content)
        if m:
            y, d, mo, h, mi, s, ms = m.groups()
    if not m:
        return "'" + content.replace("'", "''") + "'"
    try:
        dt = datetime.datetime(int(y), int(mo), int(d), int(h or 0), int(mi or 0), int(s or 0),
                               int((ms or '0').ljust(3, '0')) * 1000)
    except ValueError:
        dt = None
    if dt is None or dt.year < 1753:
        raise SqlError(242, 'The conversion of a varchar data type to a datetime data type resulted in an '
                            'out-of-range value.')
    return "'" + date_text(dt) + "'"


def scan(sql):
    """Splits SQL into ('code', text) and literal pieces, ('str', content) or
    ('nstr', content) for N'' literals; comments are dropped."""
    out, i, n, code = [], 0, len(sql), []
    while i < n:
        c = sql[i]
        if c == "'" or (c in 'Nn' and sql[i + 1:i + 2] == "'" and (i == 0 or not (sql[i - 1].isalnum() or sql[i - 1] == '_'))):
            j = i + (2 if c != "'" else 1)
            buf = []
            while j < n:
                if sql[j] == "'":
                    if sql[j + 1:j + 2] == "'":
                        buf.append("'")
                        j += 2
                        continue
                    break
                buf.append(sql[j])
                j += 1
            if j >= n:
                raise SqlError(105, "Unclosed quotation mark after the character string '%s'." % ''.join(buf))
            out.append(('code', ''.join(code)))
            code = []
            out.append(('str' if c == "'" else 'nstr', ''.join(buf)))
            i = j + 1
        elif c == '-' and sql[i + 1:i + 2] == '-':
            j = sql.find('\n', i)
            i = n if j < 0 else j
        elif c == '/' and sql[i + 1:i + 2] == '*':
            j = sql.find('*/', i + 2)
            i = n if j < 0 else j + 2
            code.append(' ')
        elif c in '"[':
            close = '"' if c == '"' else ']'
            j = sql.find(close, i + 1)
            j = n - 1 if j < 0 else j
            code.append(sql[i:j + 1])
            i = j + 1
        else:
            code.append(c)
            i += 1
    out.append(('code', ''.join(code)))
    return out


@functools.lru_cache(maxsize=256)
def split_statements(sql):
    """The batch's statements, split at semicolons outside literals; each as
    its list of scan() pieces."""
    stmts, cur = [], []
    for kind, text in scan(sql):
        if kind != 'code':
            cur.append((kind, text))
            continue
        parts = text.split(';')
        for k, part in enumerate(parts):
            if k:
                stmts.append(cur)
                cur = []
            cur.append(('code', part))
    stmts.append(cur)
    return tuple(tuple(s) for s in stmts if ''.join(t if k == 'code' else 'x' for k, t in s).strip())


def join_pieces(pieces):
    """The statement as T-SQL again (for finding its tables and aliases)."""
    return ''.join(text if kind == 'code' else "'" + text.replace("'", "''") + "'" for kind, text in pieces)


@functools.lru_cache(maxsize=1024)
def translate_code(code):
    for pattern, replacement in RULES:
        code = pattern.sub(replacement, code)
    return code


def translate(pieces, trancount=0, days_first=False, text_columns=frozenset()):
    """A statement (its scan() pieces) as the console sends it, in SQLite's
    dialect. text_columns: the names of the CHAR/VARCHAR/TEXT columns, whose
    comparisons and sorting follow the database collation (see collated())."""
    out, limit = [], None
    for kind, text in pieces:
        if kind != 'code':
            lit = literal(text if kind == 'nstr' else in_code_page(text), days_first)
            if text_columns and out and compared_text(out[-1], text_columns):
                lit += COLLATE
            out.append(lit)
            continue
        m = TOP_RE.search(text) if limit is None else None
        if m:
            # One TOP, of the statement's outer SELECT: its LIMIT goes at the end.
            limit, text = m.group(2), text[:m.start()] + m.group(1) + text[m.end():]
        code = translate_code(TRANCOUNT_RE.sub(str(trancount), text))
        out.append(collated(code, text_columns) if text_columns else code)
    s = ''.join(out)
    return s.rstrip().rstrip(';') + ' limit ' + limit if limit else s


# ---------------------------------------------------------------- collation

COLLATION_NAME = 'tds_ci_as'
COLLATE = ' collate ' + COLLATION_NAME
_ASCII_LOWER = {c: c + 32 for c in range(ord('A'), ord('Z') + 1)}


def collation_key(s):
    """Chinese_PRC_CI_AS as the console meets it: ASCII letters without case,
    trailing blanks not counted (SQL Server pads the shorter side with blanks
    before it compares), and the rest in GBK order, which for the common
    characters (GB2312's first level) is the pinyin order SQL Server sorts by."""
    return s.rstrip(' ').translate(_ASCII_LOWER).encode(SERVER_CHARSET, errors='replace')


def compare_collated(a, b):
    ka, kb = collation_key(a), collation_key(b)
    return (ka > kb) - (ka < kb)


# "column op" at the end of a piece of code, where a literal or a bound value follows.
COMPARED_RE = re.compile(r'(?:\b\w+\.)?\b(\w+)\s*(?:=|<>|!=|<=|>=|<|>)\s*$')
COMPARED_PARAM_RE = re.compile(r'((?:\b\w+\.)?\b(\w+)\s*(?:=|<>|!=|<=|>=|<|>)\s*)(\?|[@:]\w+)')
COMPARED_IN_RE = re.compile(r'((?:\b\w+\.)?\b(\w+))(\s+(?:not\s+)?in\s*\()', re.I)
ORDER_BY_RE = re.compile(r'\border\s+by\s+', re.I)
ORDER_TERM_RE = re.compile(r'\s*((?:\w+\.)?(\w+))(\s+(?:asc|desc)\b)?\s*$', re.I)


def compared_text(code, text_columns):
    m = COMPARED_RE.search(code)
    return bool(m) and m.group(1).lower() in text_columns


def collated(code, text_columns):
    """The code with the database collation on what it compares or sorts of
    text: bound values compared with a text column, and the text columns of
    an ORDER BY. (Literals get theirs in translate().) Only text columns:
    a collation on a date or number would keep SQLite from its indexes."""
    code = COMPARED_PARAM_RE.sub(
        lambda m: m.group(0) + COLLATE if m.group(2).lower() in text_columns else m.group(0), code)
    # "x in (...)" compares by the collation of x.
    code = COMPARED_IN_RE.sub(
        lambda m: m.group(1) + COLLATE + m.group(3) if m.group(2).lower() in text_columns else m.group(0), code)
    m = ORDER_BY_RE.search(code)
    if not m:
        return code
    head, rest = code[:m.end()], code[m.end():]
    tail = ''
    stop = re.search(r'\)|\blimit\b|\bunion\b', rest, re.I)
    if stop:
        rest, tail = rest[:stop.start()], rest[stop.start():]
    terms = []
    for term in rest.split(','):
        t = ORDER_TERM_RE.match(term)
        if t and t.group(2).lower() in text_columns:
            term = term.rstrip()
            end = t.start(3) if t.group(3) else len(term)
            term = term[:end] + COLLATE + term[end:] + (' ' if rest.endswith(' ') else '')
        terms.append(term)
    return head + ','.join(terms) + tail


# ---------------------------------------------------------------- errors

KEYWORDS = {'select', 'from', 'where', 'insert', 'into', 'update', 'delete', 'set', 'values', 'table', 'create',
            'alter', 'drop', 'order', 'group', 'by', 'and', 'or', 'not', 'null', 'as', 'on', 'join', 'union',
            'having', 'like', 'in', 'is', 'top', 'distinct', 'primary', 'key', 'default', 'add', 'constraint'}


def sql_error(e):
    """An SQLite error as SQL Server would word it."""
    text = str(e)
    if text.startswith('database is locked') or text.startswith('database table is locked'):
        # Another writer of the file beside this server: a lock wait like any other.
        return SqlError(*LOCK_TIMEOUT_ERROR, severity=16, state=51)
    if text.startswith('tds8152'):
        return SqlError(8152, 'String or binary data would be truncated.', state=2)
    if text.startswith('tds242'):
        return SqlError(242, 'The conversion of a varchar data type to a datetime data type resulted in an '
                             'out-of-range value.', state=3)
    m = re.match(r'no such table: (?:\w+\.)?(\S+)', text)
    if m:
        return SqlError(208, "Invalid object name '%s'." % m.group(1))
    m = re.match(r'(?:no such column|table \S+ has no column named): (\S+)', text)
    if m:
        return SqlError(207, "Invalid column name '%s'." % m.group(1).split('.')[-1])
    m = re.match(r'near "([^"]*)": syntax error', text)
    if m:
        word = m.group(1)
        if word.lower() in KEYWORDS:
            return SqlError(156, "Incorrect syntax near the keyword '%s'." % word, state=1)
        return SqlError(102, "Incorrect syntax near '%s'." % word)
    if 'incomplete input' in text:
        return SqlError(102, "Incorrect syntax near ')'.")
    m = re.match(r'(?:UNIQUE|PRIMARY KEY) constraint failed: (\w+)\.', text)
    if m:
        return SqlError(2627, "Violation of PRIMARY KEY constraint 'PK_%s'. Cannot insert duplicate key in "
                              "object 'dbo.%s'." % (m.group(1), m.group(1)), severity=14)
    m = re.match(r'NOT NULL constraint failed: (\w+)\.(\w+)', text)
    if m:
        return SqlError(515, "Cannot insert the value NULL into column '%s', table 'www.dbo.%s'; column does "
                             "not allow nulls. INSERT fails." % (m.group(2), m.group(1)), state=2)
    m = re.match(r'(CHECK|FOREIGN KEY) constraint failed', text)
    if m or getattr(e, 'sqlite_errorcode', 0) & 0xFF == 19:
        # A constraint of another kind, or a trigger's RAISE: a conflict with a
        # constraint to SQL Server, the statement refused for its values.
        if m:
            text = 'The statement conflicted with the %s constraint. The conflict occurred in database "www".' % m.group(1)
        return SqlError(547, text, state=0)
    m = re.match(r'table (\w+) already exists', text)
    if m:
        return SqlError(2714, "There is already an object named '%s' in the database." % m.group(1), state=6)
    return SqlError(50000, text)


# ---------------------------------------------------------------- reading requests

class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise SqlError(8009, 'The incoming tabular data stream (TDS) protocol stream is incorrect.')
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def unpack(self, fmt):
        return struct.unpack(fmt, self.take(struct.calcsize(fmt)))[0]

    def u8(self):
        return self.unpack('<B')

    def u16(self):
        return self.unpack('<H')

    def ucs2(self, chars):
        return self.take(chars * 2).decode('utf-16-le')

    def at_end(self):
        return self.pos >= len(self.data)

    def skip_all_headers(self):
        total = struct.unpack('<I', self.data[self.pos:self.pos + 4])[0]
        self.take(total)


FIXED = {0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x7F: 8, 0x3B: 4, 0x3E: 8, 0x3D: 8, 0x3A: 4, 0x3C: 8, 0x7A: 4,
         0x1F: 0}
BYTE_LEN = {0x26, 0x68, 0x6D, 0x6F, 0x6E, 0x24}
US_LEN = {0xA5, 0xA7, 0xAD, 0xAF, 0xE7, 0xEF}
CHAR_TYPES = {0xA7, 0xAF, 0x23}
NCHAR_TYPES = {0xE7, 0xEF, 0x63}


def read_type_info(r):
    t = r.u8()
    info = {'type': t}
    if t in FIXED:
        info['size'] = FIXED[t]
    elif t in BYTE_LEN:
        info['size'] = r.u8()
    elif t in (0x6A, 0x6C):
        info['size'], info['prec'], info['scale'] = r.u8(), r.u8(), r.u8()
    elif t == 0x28:
        pass
    elif t in (0x29, 0x2A, 0x2B):
        info['scale'] = r.u8()
    elif t in US_LEN:
        info['size'] = r.u16()
        if t in (0xA7, 0xAF, 0xE7, 0xEF):
            r.take(5)
    elif t in (0x23, 0x63, 0x22):
        info['size'] = r.unpack('<i')
        if t != 0x22:
            r.take(5)
    else:
        raise SqlError(8016, 'The incoming TDS RPC protocol stream is incorrect: parameter type 0x%02X is not '
                             'supported by this test server.' % t)
    return info


def read_plp(r):
    total = r.unpack('<Q')
    if total == 0xFFFFFFFFFFFFFFFF:
        return None
    chunks = []
    while True:
        n = r.unpack('<I')
        if n == 0:
            return b''.join(chunks)
        chunks.append(r.take(n))


def decode_text(data, t):
    if data is None:
        return None
    if t in NCHAR_TYPES:
        return data.decode('utf-16-le')
    if t in CHAR_TYPES:
        return data.decode(SERVER_CHARSET, errors='replace')
    return data


def read_value(r, info):
    t = info['type']
    if t in FIXED:
        raw = r.take(info['size'])
    elif t in US_LEN:
        if info['size'] == 0xFFFF:
            return decode_text(read_plp(r), t)
        n = r.u16()
        return None if n == 0xFFFF else decode_text(r.take(n), t)
    elif t in (0x23, 0x63, 0x22):
        n = r.unpack('<i')
        return None if n < 0 else decode_text(r.take(n), t)
    else:
        n = r.u8()
        if n == 0:
            return None
        raw = r.take(n)
    if t in (0x30, 0x32, 0x34, 0x38, 0x7F, 0x26, 0x68):
        return int.from_bytes(raw, 'little', signed=t not in (0x30, 0x32, 0x68))
    if t in (0x3B, 0x3E, 0x6D):
        return struct.unpack('<f' if len(raw) == 4 else '<d', raw)[0]
    if t in (0x3D, 0x3A, 0x6F):
        if len(raw) == 8:
            days, ticks = struct.unpack('<iI', raw)
            return date_text(EPOCH_1900 + datetime.timedelta(days=days, milliseconds=round(ticks * 10 / 3)))
        days, minutes = struct.unpack('<HH', raw)
        return date_text(EPOCH_1900 + datetime.timedelta(days=days, minutes=minutes))
    if t in (0x28, 0x2A, 0x2B):
        scale = info.get('scale', 0)
        tlen = 0 if t == 0x28 else (3 if scale <= 2 else 4 if scale <= 4 else 5)
        units = int.from_bytes(raw[:tlen], 'little')
        days = int.from_bytes(raw[tlen:tlen + 3], 'little')
        dt = datetime.datetime.combine(DATE_1 + datetime.timedelta(days=days), datetime.time())
        dt += datetime.timedelta(microseconds=units * 10 ** 6 // 10 ** scale)
        return dt.strftime('%Y-%m-%d') if t == 0x28 else date_text(dt)
    if t == 0x29:
        scale = info.get('scale', 0)
        units = int.from_bytes(raw, 'little')
        return str(datetime.timedelta(microseconds=units * 10 ** 6 // 10 ** scale))
    if t in (0x6A, 0x6C):
        v = int.from_bytes(raw[1:], 'little') * (1 if raw[0] else -1)
        return v if info['scale'] == 0 else v / 10 ** info['scale']
    if t in (0x3C, 0x7A, 0x6E):
        if len(raw) == 8:
            hi, lo = struct.unpack('<iI', raw)
            return ((hi << 32) + lo) / 10000
        return struct.unpack('<i', raw)[0] / 10000
    return raw


def read_rpc(data):
    """(procedure name, [(name, value, is_output, type_info)])."""
    r = Reader(data)
    r.skip_all_headers()
    n = r.u16()
    if n == 0xFFFF:
        pid = r.u16()
        name = RPC_NAMES.get(pid, 'proc#%d' % pid)
    else:
        name = r.ucs2(n)
    r.u16()  # option flags
    params = []
    while not r.at_end():
        if r.data[r.pos] in (0x80, 0xFF):
            break  # a second RPC in the same request: not something FreeTDS sends
        pname = r.ucs2(r.u8())
        status = r.u8()
        info = read_type_info(r)
        params.append((pname, read_value(r, info), bool(status & 1), info))
    return name, params


# ---------------------------------------------------------------- locks

# Lock modes and which pairs two owners may hold at once (SQL Server's
# compatibility table for the modes sp_getapplock takes; tables use S and X).
LOCK_MODES = {'shared': 'S', 'update': 'U', 'intentshared': 'IS', 'intentexclusive': 'IX', 'exclusive': 'X'}
COMPATIBLE = {
    'IS': {'IS', 'S', 'U', 'IX'},
    'S': {'IS', 'S', 'U'},
    'U': {'IS', 'S'},
    'IX': {'IS', 'IX'},
    'X': set(),
}
STRENGTH = {'IS': 0, 'S': 1, 'U': 2, 'IX': 2, 'X': 3}
LOCK_TIMEOUT_ERROR = (1222, 'Lock request time out period exceeded.')


class LockManager:
    """The server's locks, shared by every session: resources ('table', name)
    and ('app', name), each held by owners (session, duration) in a mode.
    Owners of one session never block each other. A request that conflicts
    waits until the holders let go, for ever or up to a timeout in ms."""

    def __init__(self):
        self.cond = threading.Condition()
        self.held = {}     # resource -> {owner: [mode, count]}
        self.waiting = {}  # owner -> (resource, mode)

    def grantable(self, resource, owner, mode):
        for other, (held_mode, _) in self.held.get(resource, {}).items():
            if other[0] is owner[0]:
                continue
            if held_mode not in COMPATIBLE[mode] or mode not in COMPATIBLE[held_mode]:
                return False
        return True

    def acquire(self, owner, resource, mode, timeout_ms=-1, poll=None):
        """True when granted at once, 'waited' when granted after a wait,
        False when the timeout ran out. poll() runs while waiting (it raises
        when the client cancels or goes away)."""
        deadline = None if timeout_ms is None or timeout_ms < 0 else time.monotonic() + timeout_ms / 1000.0
        waited = False
        with self.cond:
            while not self.grantable(resource, owner, mode):
                if deadline is not None and time.monotonic() >= deadline:
                    return False
                waited = True
                self.waiting[owner] = (resource, mode)
                try:
                    wait = 0.05 if deadline is None else max(0.0, min(0.05, deadline - time.monotonic()))
                    self.cond.wait(wait)
                    if poll:
                        self.cond.release()
                        try:
                            poll()
                        finally:
                            self.cond.acquire()
                finally:
                    self.waiting.pop(owner, None)
            holders = self.held.setdefault(resource, {})
            entry = holders.get(owner)
            if entry is None:
                holders[owner] = [mode, 1]
            else:
                entry[1] += 1
                if STRENGTH[mode] > STRENGTH[entry[0]]:
                    entry[0] = mode
        return 'waited' if waited else True

    def release(self, owner, resource, all_counts=False):
        """False when the owner did not hold the resource."""
        with self.cond:
            holders = self.held.get(resource, {})
            entry = holders.get(owner)
            if entry is None:
                return False
            entry[1] -= 1
            if all_counts or entry[1] <= 0:
                del holders[owner]
                if not holders:
                    del self.held[resource]
            self.cond.notify_all()
            return True

    def release_owner(self, owner, kind=None):
        """Lets go of everything the owner holds (of one kind of resource)."""
        with self.cond:
            for resource in list(self.held):
                if kind is not None and resource[0] != kind:
                    continue
                holders = self.held[resource]
                if holders.pop(owner, None) is not None and not holders:
                    del self.held[resource]
            self.cond.notify_all()

    def holds(self, owner, resource):
        with self.cond:
            return owner in self.held.get(resource, {})

    def describe(self):
        with self.cond:
            held = ['%s:%s:%s' % (r[0], r[1], e[0]) for r, hs in sorted(self.held.items()) for e in hs.values()]
            return 'waiting=%d held=%s' % (len(self.waiting), ','.join(held) or '-')


class ControlSession:
    """The other session of the control commands "hold" and "release": a
    user of the site's database who holds a lock until told to let go."""


CONTROL_SESSION = ControlSession()
CONTROL_OWNER = (CONTROL_SESSION, 'session')

WRITE_TARGET_RE = re.compile(r'^\s*(?:insert\s+(?:into\s+)?|update\s+|delete\s+(?:from\s+)?|'
                             r'(?:create|alter|drop)\s+(?:unique\s+)?(?:table|index\s+\w+\s+on)\s+)'
                             r'(?:\[?\w+\]?\.)*\[?(\w+)', re.I)


@functools.lru_cache(maxsize=1024)
def statement_tables(code, tables):
    """(table written or None, tables read) of a statement's code (its
    literals left out), among the database's tables."""
    m = WRITE_TARGET_RE.match(code)
    target = m.group(1).lower() if m and m.group(1).lower() in tables else None
    read = tuple(t for t in tables if t != target and re.search(r'\b%s\b' % re.escape(t), code, re.I))
    return target, read


APPLOCK_DECLARE_RE = re.compile(r'^\s*declare\s+@(\w+)\s+int\s*$', re.I)
APPLOCK_EXEC_RE = re.compile(r'^\s*exec(?:ute)?\s+(?:@(\w+)\s*=\s*)?(?:\w+\.)*(sp_getapplock|sp_releaseapplock)\b(.*)$',
                             re.I | re.S)
APPLOCK_ARG_RE = re.compile(r'\s*@(\w+)\s*=\s*(?:(-?\d+)|@(\w+)|(\x00\d+\x00))\s*(?:,|$)')


class SessionLocks:
    """A session's side of the locks, as SQL Server takes them under READ
    COMMITTED without row versioning, at table granularity:
      - a statement that writes a table (insert, update, delete, DDL) holds
        an exclusive lock on it, to the end of the transaction when one is
        open, else to the end of the statement;
      - a statement that reads a table holds a shared lock on it while it
        runs and while its result is being sent: until the last packet of the
        reply is in the socket. A client that stops reading a long result
        therefore keeps a writer of that table waiting, as SQL Server's lock
        on the row or page the send stopped at does (SQL Server would let
        writers of other rows of the table go on; here the whole table is
        held). Under REPEATABLE READ and SERIALIZABLE the shared locks are
        kept to the end of the transaction; READ UNCOMMITTED and SNAPSHOT
        take none.
    A request that conflicts waits for ever (LOCK_TIMEOUT -1, the default),
    or SET LOCK_TIMEOUT n milliseconds, then fails with error 1222, severity
    16, state 51 (the statement ends; the transaction stays open). A client's
    cancel (ATTENTION) ends the wait. SQLite has one writer: a statement that
    writes also takes the server's one writer lock (to the end of its
    transaction), so two open transactions that write different tables wait
    for each other too. A writer of the database file beside this server is
    waited for in SQLite (the lock timeout, 30 s when none is set), also
    ending with 1222. No deadlock detection. sp_getapplock and sp_releaseapplock work as
    SQL Server documents them (modes Shared, Update, IntentShared,
    IntentExclusive, Exclusive; owner Transaction or Session; return codes
    0 granted, 1 granted after waiting, -1 timed out, -999 a bad call)."""

    def init_locks(self):
        self.lock_timeout = -1
        self.isolation = 'read committed'
        self.batch_vars = {}
        self.statement_owner = (self, 'statement')
        self.transaction_owner = (self, 'transaction')
        self.session_owner = (self, 'session')

    def set_lock_option(self, words):
        """SET LOCK_TIMEOUT and the isolation level; False for other options."""
        if words[1] == 'lock_timeout':
            self.lock_timeout = int(words[2])
            if self.db is not None:
                ms = self.lock_timeout if self.lock_timeout >= 0 else 30000
                self.db.execute('pragma busy_timeout=%d' % ms)
            return True
        if words[1] == 'transaction' and len(words) >= 5:
            self.isolation = ' '.join(words[4:])
            return True
        return False

    def poll_client(self):
        """While waiting for a lock: a cancel ends the wait, a client gone ends the session."""
        if self.attention_pending(0):
            raise Cancelled

    def lock(self, resource, mode, owner):
        granted = self.server.locks.acquire(owner, resource, mode, self.lock_timeout, self.poll_client)
        if not granted:
            raise SqlError(*LOCK_TIMEOUT_ERROR, severity=16, state=51)

    def lock_statement(self, pieces):
        """Takes the table locks of a statement before it runs."""
        code = ' '.join(text for kind, text in pieces if kind == 'code')
        target, read = statement_tables(code, tuple(self.columns))
        in_tran = self.trancount > 0
        if target:
            # SQLite has one writer: its write lock is taken here, as a lock
            # like the others, so that waiting for it follows the same rules.
            owner = self.transaction_owner if in_tran else self.statement_owner
            self.lock(('database', 'writer'), 'X', owner)
            self.lock(('table', target), 'X', owner)
        if self.isolation in ('read uncommitted', 'snapshot'):
            return
        keep = in_tran and self.isolation in ('repeatable read', 'serializable')
        for table in read:
            self.lock(('table', table), 'S', self.transaction_owner if keep else self.statement_owner)

    def statement_done(self):
        """After the reply is sent: the locks of its statements end."""
        self.server.locks.release_owner(self.statement_owner)
        self.batch_vars = {}

    def transaction_done(self):
        self.server.locks.release_owner(self.transaction_owner)

    def session_done(self):
        for owner in (self.statement_owner, self.transaction_owner, self.session_owner):
            self.server.locks.release_owner(owner)

    def applock_statement(self, pieces, done_token):
        """DECLARE @v INT and EXEC [@v =] sp_getapplock/sp_releaseapplock ...;
        None for any other statement."""
        first = pieces[0][1] if pieces and pieces[0][0] == 'code' else ''
        m = APPLOCK_DECLARE_RE.match(first) if len(pieces) == 1 else None
        if m:
            self.batch_vars[m.group(1)] = None
            return b''
        m = APPLOCK_EXEC_RE.match(first)
        if not m:
            return None
        literals = []
        code = m.group(3)
        for kind, text in pieces[1:]:
            if kind == 'code':
                code += text
            else:
                code += '\x00%d\x00' % len(literals)
                literals.append(text)
        args, pos = {}, 0
        while pos < len(code) and code[pos:].strip():
            a = APPLOCK_ARG_RE.match(code, pos)
            if not a:
                raise SqlError(102, "Incorrect syntax near '%s'." % first_words(code[pos:], 1))
            name, number, var, lit = a.groups()
            if number is not None:
                value = int(number)
            elif var is not None:
                value = self.batch_vars.get(var)
            else:
                value = literals[int(lit.strip('\x00'))]
            args[name.lower()] = value
            pos = a.end()
        procedure = m.group(2).lower()
        status, messages = self.applock(procedure, args)
        if m.group(1):
            self.batch_vars[m.group(1)] = status
        return messages + struct.pack('<Bi', TOK_RETURNSTATUS, status) + done(TOK_DONEPROC, DONE_MORE)

    def applock(self, procedure, args):
        """(return code, messages) of sp_getapplock or sp_releaseapplock."""
        resource = args.get('resource')
        owner_name = str(args.get('lockowner') or 'Transaction').lower()
        if not resource or owner_name not in ('transaction', 'session'):
            return -999, error_token(SqlError(8114, 'Error converting data type to the parameters of %s.' % procedure))
        if owner_name == 'transaction' and self.trancount == 0:
            return -999, error_token(SqlError(1223 if procedure == 'sp_releaseapplock' else 1225,
                                              "Cannot %s the application lock (Database Principal: 'public', Resource: "
                                              "'%s') because there is no current transaction."
                                              % ('release' if procedure == 'sp_releaseapplock' else 'obtain', resource)))
        owner = self.session_owner if owner_name == 'session' else self.transaction_owner
        key = ('app', resource.lower()[:255])
        if procedure == 'sp_releaseapplock':
            if self.server.locks.release(owner, key):
                return 0, b''
            return -999, error_token(SqlError(1223, "Cannot release the application lock (Database Principal: "
                                                    "'public', Resource: '%s') because it is not currently held."
                                              % resource))
        mode = LOCK_MODES.get(str(args.get('lockmode') or '').lower())
        if mode is None:
            return -999, error_token(SqlError(8114, 'Error converting data type to the parameters of sp_getapplock.'))
        timeout = args.get('locktimeout')
        timeout = self.lock_timeout if timeout is None else int(timeout)
        granted = self.server.locks.acquire(owner, key, mode, timeout, self.poll_client)
        return (0 if granted is True else 1 if granted else -1), b''


# ---------------------------------------------------------------- a connection

STMT_NAME_RE = re.compile(r'@(\w+)')
CONTROL_RE = re.compile(
    r'^\s*(?:'
    r'(?P<set>set\s+(?:transaction\s+isolation\s+level\s+(?:read\s+\w+|repeatable\s+read|serializable|snapshot)'
    r'|(?:language|dateformat|datefirst|deadlock_priority)\s+\w+'
    r'|\w+(?:\s*,\s*\w+)*\s+(?:on|off|-?\d+)\b))'
    r'|(?P<begin>begin\s+tran(?:saction)?(?:\s+(?P<bname>(?!(?:insert|update|delete|select|save|commit|rollback|set|if|exec)\b)\w+))?)'
    r'|(?P<save>save\s+tran(?:saction)?\s+(?P<sname>\w+))'
    r'|(?P<rollback>(?:if\s+@@trancount\s*>\s*0\s+)?rollback(?:\s+tran(?:saction)?)?(?:\s+(?P<rname>(?!(?:insert|update|delete|select|save|commit|begin|set|if|exec)\b)\w+))?)'
    r'|(?P<commit>(?:if\s+@@trancount\s*>\s*0\s+)?commit(?:\s+tran(?:saction)?)?(?:\s+(?!(?:insert|update|delete|select|save|rollback|begin|set|if|exec)\b)\w+)?)'
    r')\s*', re.I)
PRINT_RE = re.compile(r'^\s*print\s*$', re.I)
BACKUP_RE = re.compile(r"^\s*backup\s+database\s+\[?(\w+)\]?\s+to\s+disk\s*=\s*$", re.I)
ALIAS_RE = re.compile(r'([\w.]+(?:\s*\([\w.*]*\))?)\s+as\s+(\w+)', re.I)
FUNC_RE = re.compile(r'^(\w+)\s*\(\s*([\w.*]*)\s*\)$')


# Login languages whose date order is dmy (SQL Server's sys.syslanguages).
DAYS_FIRST_LANGUAGES = {'british', 'deutsch', 'français', 'french', 'español', 'spanish', 'italiano', 'italian',
                        'nederlands', 'dutch', 'dansk', 'danish', 'norsk', 'norwegian', 'português', 'portuguese',
                        'brazilian', 'русский', 'russian', 'polski', 'polish', 'türkçe', 'turkish', 'ελληνικά', 'greek'}

# Where the statement is among a procedure's parameters.
STATEMENT_PARAM = {'sp_executesql': 0, 'sp_prepare': 2, 'sp_prepexec': 2, 'sp_cursoropen': 1}


class Session(SessionLocks):
    def __init__(self, server, sock):
        self.init_locks()
        self.server, self.sock = server, sock
        self.packet_size = 4096
        self.packet_id = 1
        self.request_text = ''
        self.byte_budget = None  # bytes the answer to this statement may still have (cut bytes)
        self.days_first = False  # the login language reads dates as y-d-m
        self.db = None
        self.trancount = 0
        self.savepoints = []
        self.tran_id = 0
        self.prepared = {}
        self.cursors = {}
        self.next_handle = 1
        self.schema_version = None
        self.columns = {}  # table -> {column: ColType}
        self.text_columns = frozenset()
        self.textsize = TEXTSIZE_DEFAULT
        self.user = ''  # the login's name, whose rights deny_rights() may have narrowed

    # -------- wire

    def recv_exact(self, n):
        buf = b''
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                raise EOFError
            buf += chunk
        return buf

    def read_message(self):
        parts, kind = [], None
        while True:
            header = self.recv_exact(8)
            kind, status, length = header[0], header[1], struct.unpack('>H', header[2:4])[0]
            parts.append(self.recv_exact(length - 8))
            if status & 1:
                return kind, b''.join(parts)

    def send(self, payload, last=True):
        """Sends payload as reply packets; the final packet ends the message when last."""
        room = self.packet_size - 8
        chunks = [payload[i:i + room] for i in range(0, len(payload), room)] or [b'']
        out = []
        for i, chunk in enumerate(chunks):
            status = 1 if last and i == len(chunks) - 1 else 0
            out.append(struct.pack('>BBHHBB', PKT_REPLY, status, len(chunk) + 8, 0, self.packet_id, 0) + chunk)
            self.packet_id = (self.packet_id + 1) % 256
        self.server.faults.before_reply()
        if self.byte_budget is not None:
            size = sum(len(p) for p in out)
            if size > self.byte_budget:
                self.sock.sendall(b''.join(out)[:self.byte_budget])
                self.sock.shutdown(socket.SHUT_RDWR)
                raise ConnectionAbortedError('cut by the control channel')
            self.byte_budget -= size
        pace = self.server.faults.pace
        if pace > 0:
            for i, packet in enumerate(out):
                if i:
                    time.sleep(pace)
                self.sock.sendall(packet)
            return
        self.sock.sendall(b''.join(out))

    def attention_pending(self, wait):
        """True once the client sent an ATTENTION (its cancel) within wait seconds."""
        ready, _, _ = select.select([self.sock], [], [], wait)
        if not ready:
            return False
        header = self.sock.recv(8, socket.MSG_PEEK)
        if not header:
            raise EOFError
        if header[0] == PKT_ATTENTION:
            self.read_message()
            self.server.log('attention')
            return True
        return False

    # -------- requests

    def handle(self):
        while True:
            try:
                kind, data = self.read_message()
            except (EOFError, ConnectionError):
                return
            if kind == PKT_PRELOGIN:
                self.send(self.prelogin(data))
                if not self.start_tls():
                    return
            elif kind == PKT_LOGIN7:
                reply = self.login(data)
                self.end_login_tls()
                self.send(reply)
            elif kind == PKT_ATTENTION:
                self.server.log('attention')
                try:
                    self.send(done(TOK_DONE, DONE_ATTN))
                except ConnectionError:
                    return  # a client that gave up waiting and left
            else:
                try:
                    try:
                        self.send(self.request(kind, data))
                    finally:
                        self.statement_done()
                except Cancelled:
                    self.send(done(TOK_DONE, DONE_ATTN))
                except Fault as f:
                    self.fault(f)
                    return
                except (EOFError, ConnectionError):
                    return
                except Exception as e:
                    # A fault of this server: said to the client, which goes on.
                    traceback.print_exc()
                    self.send(error_token(SqlError(50000, 'TDS test server fault: %r' % e, severity=16))
                              + done(TOK_DONE, DONE_ERROR))

    def fault(self, f):
        """What a fault leaves the client with: the reply's beginning, then a
        closed connection, or silence until thaw and then a closed one."""
        thaws = self.server.faults.thaws
        try:
            if f.prefix:
                self.send(f.prefix, last=False)
        except ConnectionError:
            pass
        if f.action == 'freeze':
            self.server.faults.wait_thaw_after(thaws)
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def prelogin(self, data=b''):
        self.encryption = negotiate_encryption(self.server, prelogin_options(data).get(1, b'\x02')[:1])
        options = [(0, PRODUCT_VERSION + b'\0\0'), (1, bytes([self.encryption])), (2, b'\0'),
                   (3, struct.pack('>I', 0)), (4, b'\0')]
        offset = 5 * len(options) + 1
        head, body = b'', b''
        for token, value in options:
            head += struct.pack('>BHH', token, offset + len(body), len(value))
            body += value
        return head + b'\xFF' + body

    # -------- TLS, as SQL Server makes it: the handshake inside PRELOGIN
    # packets, then TLS records straight on the connection, for the login
    # packet only (ENCRYPT_OFF) or for everything (ENCRYPT_ON).

    def start_tls(self):
        """Makes the handshake the pre-login answer agreed on; False when it failed."""
        if self.encryption not in (ENCRYPT_OFF, ENCRYPT_ON):
            return True
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = self.server.tls_context.wrap_bio(incoming, outgoing, server_side=True)
        try:
            while True:
                try:
                    tls.do_handshake()
                    break
                except ssl.SSLWantReadError:
                    self.send_prelogin_packet(outgoing.read())
                    kind, data = self.read_message()
                    incoming.write(data)
            self.send_prelogin_packet(outgoing.read())
        except (ssl.SSLError, EOFError, ConnectionError) as e:
            self.server.log('tls failed %s' % e)
            return False
        self.raw_sock = self.sock
        self.sock = TlsSocket(self.sock, tls, incoming, outgoing)
        self.server.log('tls %s' % ('all' if self.encryption == ENCRYPT_ON else 'login'))
        return True

    def send_prelogin_packet(self, payload):
        if payload:
            self.sock.sendall(struct.pack('>BBHHBB', PKT_PRELOGIN, 1, len(payload) + 8, 0, 0, 0) + payload)

    def end_login_tls(self):
        """With ENCRYPT_OFF only the login went encrypted: the rest is plain."""
        if getattr(self, 'encryption', None) == ENCRYPT_OFF and isinstance(self.sock, TlsSocket):
            self.sock = self.raw_sock

    def login(self, data):
        self.packet_size = max(512, min(32767, struct.unpack('<I', data[8:12])[0] or 4096))
        off, n = struct.unpack('<HH', data[68:72])
        database = data[off:off + 2 * n].decode('utf-16-le') or 'www'
        off, n = struct.unpack('<HH', data[64:68])
        language = data[off:off + 2 * n].decode('utf-16-le') or 'us_english'
        self.days_first = language.lower() in DAYS_FIRST_LANGUAGES
        self.user = login_user(data)
        self.open_database()
        self.server.logins.append(login_credentials(data))
        self.server.log('login')
        loginack = (b'\x01' + bytes([0x74, 0, 0, 4]) + b_varchar('Microsoft SQL Server') + PRODUCT_VERSION)
        return (envchange(1, database, 'master')
                + info_token(5701, "Changed database context to '%s'." % database, 2)
                + envchange(7, COLLATION, b'')
                + envchange(2, language)
                + info_token(5703, 'Changed language setting to %s.' % language)
                + struct.pack('<BH', TOK_LOGINACK, len(loginack)) + loginack
                + envchange(4, str(self.packet_size), '4096')
                + done(TOK_DONE, DONE_FINAL))

    def request(self, kind, data):
        if kind == PKT_BATCH:
            r = Reader(data)
            r.skip_all_headers()
            sql = data[r.pos:].decode('utf-16-le')
            self.server.log('batch ' + first_words(sql))
            return self.end_batch(*self.run_sql(sql, {}, TOK_DONE))
        if kind == PKT_RPC:
            try:
                name, params = read_rpc(data)
            except SqlError as e:
                return error_token(e) + done(TOK_DONEPROC, DONE_ERROR)
            return self.rpc(name, params)
        if kind == PKT_TM:
            return self.transaction_manager(data)
        return error_token(SqlError(4002, 'The incoming tabular data stream (TDS) protocol stream is incorrect.',
                                    severity=16)) + done(TOK_DONE, DONE_ERROR)

    # -------- database

    def open_database(self):
        db = sqlite3.connect(self.server.database, timeout=30, isolation_level=None, check_same_thread=False)
        db.create_function('tds_gbk_len', 1, lambda v: None if v is None else len(gbk(str(v))), deterministic=True)
        # What SQL Server stores of a value for a CHAR/VARCHAR column: the
        # blanks beyond the width are dropped without a word, so only the rest counts.
        db.create_function('tds_stored_len', 1,
                           lambda v: None if v is None else len(gbk(str(v)).rstrip(b' ')), deterministic=True)
        db.create_collation(COLLATION_NAME, compare_collated)
        db.create_function('tds_bad_date', 1,
                           lambda v: 0 if v is None or (isinstance(v, str) and parse_date(v)) else 1,
                           deterministic=True)
        # The system tables the console asks whether a table or column exists.
        db.execute("create temp view sysobjects as select name, name as id, case type when 'table' then 'U' "
                   "when 'view' then 'V' else 'X' end as xtype from sqlite_master")
        db.execute("create temp view syscolumns as select c.name as name, m.name as id from sqlite_master m, "
                   "pragma_table_info(m.name) c where m.type = 'table'")
        self.db = db
        self.refresh_schema()

    def refresh_schema(self):
        """Declared column types and the checks SQL Server makes on insert and
        update (widths in GBK bytes, dates), as temporary triggers."""
        version = self.db.execute('pragma schema_version').fetchone()[0]
        if version == self.schema_version:
            return
        self.schema_version = version
        self.columns = {}
        tables = [r[0] for r in self.db.execute(
            "select name from sqlite_master where type = 'table' and name not like 'sqlite_%'")]
        for table in tables:
            cols = {}
            for _, name, decl, _, _, _ in self.db.execute('select * from pragma_table_info(?)', (table,)).fetchall():
                t = declared_type(decl, table)
                if t:
                    cols[name.lower()] = t
            self.columns[table.lower()] = cols
            checks = []
            for name, t in cols.items():
                if t.kind in ('char', 'varchar'):
                    checks.append("tds_stored_len(new.\"%s\") > %d then raise(abort, 'tds8152')" % (name, t.size))
                elif t.kind == 'datetime':
                    checks.append("tds_bad_date(new.\"%s\") then raise(abort, 'tds242')" % name)
            for event in ('insert', 'update'):
                trigger = 'tds_check_%s_%s' % (event, table)
                self.db.execute('drop trigger if exists temp."%s"' % trigger)
                if checks:
                    self.db.execute('create temp trigger "%s" before %s on main."%s" begin select case %s end; end'
                                    % (trigger, event, table, ' '.join('when ' + c for c in checks)))
        self.text_columns = frozenset(name for cols in self.columns.values() for name, t in cols.items()
                                      if t.kind in ('char', 'varchar', 'varcharmax', 'text'))

    def column_types(self, sql, names, rows):
        mentioned = [t for t in self.columns if re.search(r'\b%s\b' % re.escape(t), sql, re.I)]
        aliases = {alias.lower(): expr for expr, alias in ALIAS_RE.findall(sql)}
        out = []
        for i, name in enumerate(names):
            key = name.lower()
            expr = aliases.get(key, key)
            m = FUNC_RE.match(expr)
            if m and m.group(1).lower() in ('count', 'sum'):
                t = ColType('int')
            else:
                if m and m.group(1).lower() in ('min', 'max'):
                    expr = m.group(2)
                t = self.lookup_column(expr.split('.')[-1].lower(), mentioned)
            if t and t.kind == 'int' and any(isinstance(r[i], int) and not -2**31 <= r[i] < 2**31 for r in rows):
                t = ColType('bigint')
            out.append(t or type_from_values(r[i] for r in rows))
        return out

    def lookup_column(self, name, mentioned):
        for table in mentioned + list(self.columns):
            t = self.columns[table].get(name)
            if t:
                return t
        return None

    # -------- statements

    def run_sql(self, sql, params, done_token):
        """Runs a batch or a procedure's statement; (tokens, failed). Each
        statement's DONE has DONE_MORE; see end_batch()."""
        self.request_text = sql
        self.byte_budget = self.server.faults.take_bytes(sql)
        if self.server.faults.take_freeze(sql):
            raise Fault(b'', 'freeze')
        if IMPORT_BATCH_MARK in sql:
            return self.run_import_batch(sql, params, done_token)
        try:
            statements = split_statements(sql)
        except SqlError as e:
            return error_token(e), True
        out = b''
        self.ends_with_done = False
        for pieces in statements:
            try:
                part = self.run_statement(pieces, params, done_token)
            except sqlite3.Error as e:
                return out + error_token(sql_error(e)), True
            except SqlError as e:
                return out + error_token(e), True
            except Fault as f:
                f.prefix = out + f.prefix
                raise
            if part:
                out += part
                self.ends_with_done = part[-13] == done_token if len(part) >= 13 else False
        return out, False

    def end_batch(self, out, failed):
        """A batch ends with its last statement's DONE, no longer flagged
        DONE_MORE, or with a DONE of its own when that is missing."""
        if failed:
            return out + done(TOK_DONE, DONE_ERROR)
        if self.ends_with_done:
            status = struct.unpack('<H', out[-12:-10])[0] & ~DONE_MORE
            return out[:-12] + struct.pack('<H', status) + out[-10:]
        return out + done(TOK_DONE, DONE_FINAL)

    def strip_control(self, pieces):
        """SET options and transaction statements leading a statement: done
        here; (their tokens, what is left)."""
        out = b''
        while pieces[0][0] == 'code':
            code = pieces[0][1]
            m = CONTROL_RE.match(code)
            if not m:
                break
            pieces = (('code', code[m.end():]),) + tuple(pieces[1:])
            if m.group('set'):
                self.set_option(m.group('set'))
            else:
                out += self.transaction(m)
        return out, pieces

    def set_option(self, text):
        words = text.lower().split()
        if self.set_lock_option(words):
            return
        if words[1] == 'textsize' and len(words) > 2:
            # As SQL Server: 0 (or less) goes back to the default of 4 KB.
            n = int(words[2])
            self.textsize = n if n > 0 else 4096
        if words[1] == 'language':
            self.days_first = words[2] in DAYS_FIRST_LANGUAGES
        elif words[1] == 'dateformat':
            self.days_first = words[2] in ('dmy', 'ydm')

    def run_statement(self, pieces, params, done_token):
        out, pieces = self.strip_control(pieces)
        if not any(kind != 'code' or text.strip() for kind, text in pieces):
            return out
        if len(pieces) >= 2 and pieces[1][0] != 'code' and PRINT_RE.match(pieces[0][1]):
            return out + info_token(0, pieces[1][1])
        if len(pieces) >= 2 and pieces[1][0] != 'code' and BACKUP_RE.match(pieces[0][1]):
            return out + self.backup(BACKUP_RE.match(pieces[0][1]).group(1), pieces[1][1], done_token)
        applock = self.applock_statement(pieces, done_token)
        if applock is not None:
            return out + applock
        self.refresh_schema()
        tsql = join_pieces(pieces)
        check_rights(self, tsql)
        sqlite_sql = translate(pieces, self.trancount, self.days_first, self.text_columns)
        if not sqlite_sql.strip():
            return out
        self.lock_statement(pieces)
        cur = self.db.execute(sqlite_sql, {**params, **self.batch_vars} if self.batch_vars else params)
        if cur.description is None:
            verb = sqlite_sql.lstrip().split(None, 1)[0].lower() if sqlite_sql.strip() else ''
            if verb in ('create', 'alter', 'drop'):
                self.refresh_schema()
            return out + done(done_token, DONE_MORE, cur.rowcount if verb in ('insert', 'update', 'delete') else None)
        rows = cur.fetchall()
        names = [d[0] for d in cur.description]
        types = self.column_types(tsql, names, rows)
        return out + self.result_set(names, types, rows) + done(done_token, DONE_MORE, len(rows), 0xC1)

    def result_set(self, names, types, rows):
        meta = [struct.pack('<H', len(names))]
        for name, t in zip(names, types):
            meta.append(struct.pack('<IH', 0, 0x09) + t.type_info() + b_varchar(name))
        out = [bytes([TOK_COLMETADATA]) + b''.join(meta)]
        fault = self.server.faults.take_rows(len(rows), self.request_text)
        for i, row in enumerate(rows):
            if fault and i == fault[0]:
                raise Fault(b''.join(out), fault[1])
            out.append(bytes([TOK_ROW]) + b''.join(t.value(v, self.textsize) for t, v in zip(types, row)))
        return b''.join(out)

    # -------- an import's batch of records

    def run_import_batch(self, sql, params, done_token):
        """The import's batch of records (see parse_import_batch): each insert
        in its TRY block, a failure handled as its CATCH block says, and the
        table of refused records as the batch's one result."""
        try:
            inserts, refusals = parse_import_batch(sql)
        except SqlError as e:
            return error_token(e), True
        out = self.save(IMPORT_BATCH_SAVEPOINT)
        rows = []
        for n, pieces in enumerate(inserts, 1):
            # The record's savepoint: a failed statement leaves nothing of
            # itself in SQLite, as in SQL Server, so there is nothing to roll
            # back to it but the trigger's work that SQLite undoes as well.
            try:
                self.run_statement(pieces, params, done_token)
                continue
            except sqlite3.Error as e:
                err = sql_error(e)
            except SqlError as e:
                err = e
            if self.trancount > 0 and not self.db.in_transaction:
                # SQLite ended the transaction (a full database, a trigger's
                # RAISE(ROLLBACK)): SQL Server rolls it back and says so.
                self.db.execute('begin')
                out += self.rollback()
            rows.append((n, err.number, err.text))
            if self.trancount == 0 or err.number not in refusals:
                break
        rows = [r + (self.trancount,) for r in rows]
        types = [ColType('int'), ColType('int'), ColType('nvarchar'), ColType('int')]
        out += self.result_set(['n', 'number', 'message', 'open_transactions'], types, rows)
        self.ends_with_done = True
        return out + done(done_token, DONE_MORE, len(rows), 0xC1), False

    # -------- transactions

    def tran_env(self, kind):
        if kind == 8:
            self.tran_id += 1
            return envchange(8, struct.pack('<Q', self.tran_id), b'')
        return envchange(kind, b'', struct.pack('<Q', self.tran_id))

    def begin(self):
        self.trancount += 1
        if self.trancount == 1:
            self.db.execute('begin')
            self.savepoints = []
            return self.tran_env(8)
        return b''

    def commit(self):
        if self.trancount == 0:
            raise SqlError(3902, 'The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.')
        self.trancount -= 1
        if self.trancount == 0:
            self.db.execute('commit')
            self.transaction_done()
            return self.tran_env(9)
        return b''

    def rollback(self, name=None):
        if self.trancount == 0:
            raise SqlError(3903, 'The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.')
        if name and name.lower() in self.savepoints:
            # Back to the savepoint; the transaction goes on.
            self.db.execute('rollback to "%s"' % name.lower())
            return b''
        self.db.execute('rollback')
        self.trancount = 0
        self.transaction_done()
        return self.tran_env(10)

    def save(self, name):
        if self.trancount == 0:
            raise SqlError(628, 'Cannot issue SAVE TRANSACTION when there is no active transaction.')
        self.db.execute('savepoint "%s"' % name.lower())
        self.savepoints.append(name.lower())
        return b''

    def transaction(self, m):
        if m.group('begin'):
            return self.begin()
        if m.group('save'):
            return self.save(m.group('sname'))
        if m.group('rollback'):
            if m.group(0).lower().lstrip().startswith('if') and self.trancount == 0:
                return b''
            return self.rollback(m.group('rname'))
        if m.group('commit'):
            if m.group(0).lower().lstrip().startswith('if') and self.trancount == 0:
                return b''
            return self.commit()
        return b''

    def transaction_manager(self, data):
        r = Reader(data)
        r.skip_all_headers()
        request = r.u16()
        names = {5: 'begin', 7: 'commit', 8: 'rollback', 9: 'save'}
        self.server.log('tm ' + names.get(request, str(request)))
        try:
            if request == 5:
                r.u8()
                out = self.begin()
            elif request in (7, 8):
                name = r.ucs2(r.u8())
                flags = r.u8() if not r.at_end() else 0
                out = self.commit() if request == 7 else self.rollback(name or None)
                if flags & 1:
                    out += self.begin()
            elif request == 9:
                out = self.save(r.ucs2(r.u8()))
            else:
                raise SqlError(8009, 'Transaction manager request %d is not supported by this test server.'
                               % request)
        except SqlError as e:
            return error_token(e) + done(TOK_DONE, DONE_ERROR)
        except sqlite3.Error as e:
            return error_token(sql_error(e)) + done(TOK_DONE, DONE_ERROR)
        return out + done(TOK_DONE, DONE_FINAL)

    # -------- procedures

    def rpc(self, name, params):
        proc = name.lower().split('.')[-1]
        at = STATEMENT_PARAM.get(proc)
        words = first_words(params[at][1]) if at is not None and len(params) > at and params[at][1] else ''
        self.server.log(('rpc %s %s' % (proc, words)).rstrip())
        handler = getattr(self, 'rpc_' + proc, None)
        if handler is None:
            e = SqlError(2812, "Could not find stored procedure '%s'." % name, severity=16, state=62)
            return error_token(e) + done(TOK_DONEPROC, DONE_ERROR)
        try:
            out, failed, outputs = handler(params)
        except SqlError as e:
            return error_token(e) + done(TOK_DONEPROC, DONE_ERROR)
        out += struct.pack('<Bi', TOK_RETURNSTATUS, 1 if failed else 0)
        for ordinal, pname, value in outputs:
            out += (struct.pack('<BH', TOK_RETURNVALUE, ordinal) + b_varchar(pname) + b'\x01'
                    + struct.pack('<IH', 0, 0x09) + bytes([0x26, 4]) + ColType('int').value(value))
        return out + done(TOK_DONEPROC, DONE_ERROR if failed else DONE_FINAL)

    def bind(self, declared, values):
        """Values named as the statement names them: by their own names, else in
        the order of the declaration."""
        names = [n for n in STMT_NAME_RE.findall(declared or '')
                 if n.lower() not in ('params', 'handle')]
        bound = {}
        for i, (pname, value, _, _) in enumerate(values):
            key = pname.lstrip('@') if pname else (names[i] if i < len(names) else 'P%d' % (i + 1))
            bound[key] = value
        return bound

    def new_handle(self):
        h = self.next_handle
        self.next_handle += 1
        return h

    def rpc_sp_executesql(self, params):
        if not params:
            raise SqlError(201, "Procedure or function 'sp_executesql' expects parameter '@statement', "
                                "which was not supplied.", state=4)
        stmt = params[0][1]
        declared = params[1][1] if len(params) > 1 else ''
        out, failed = self.run_sql(stmt, self.bind(declared, params[2:]), TOK_DONEINPROC)
        return out, failed, []

    def rpc_sp_prepare(self, params):
        handle = self.new_handle()
        stmt, declared = params[2][1], params[1][1]
        self.prepared[handle] = (stmt, declared)
        return self.describe(stmt, declared), False, [(0, params[0][0], handle)]

    def describe(self, stmt, declared):
        """The columns a prepared SELECT will have, as SQL Server describes them
        on sp_prepare (the driver asks before executing); nothing for others."""
        statements = split_statements(stmt)
        if len(statements) != 1:
            return b''
        _, pieces = self.strip_control(statements[0])
        tsql = join_pieces(pieces)
        if not re.match(r'\s*select\b', tsql, re.I):
            return b''
        self.refresh_schema()
        nulls = {name: None for name in STMT_NAME_RE.findall(declared or '')}
        try:
            cur = self.db.execute('select * from (%s) limit 0' % translate(pieces, self.trancount, self.days_first, self.text_columns), nulls)
        except sqlite3.Error as e:
            raise sql_error(e)
        names = [d[0] for d in cur.description]
        return self.result_set(names, self.column_types(tsql, names, []), []) + done(TOK_DONEINPROC, DONE_MORE, 0)

    def rpc_sp_prepexec(self, params):
        handle = self.new_handle()
        stmt, declared = params[2][1], params[1][1]
        self.prepared[handle] = (stmt, declared)
        out, failed = self.run_sql(stmt, self.bind(declared, params[3:]), TOK_DONEINPROC)
        return out, failed, [(0, params[0][0], handle)]

    def rpc_sp_execute(self, params):
        handle = params[0][1]
        if handle not in self.prepared:
            raise SqlError(8179, 'Could not find prepared statement with handle %s.' % handle)
        stmt, declared = self.prepared[handle]
        out, failed = self.run_sql(stmt, self.bind(declared, params[1:]), TOK_DONEINPROC)
        return out, failed, []

    def rpc_sp_unprepare(self, params):
        self.prepared.pop(params[0][1], None)
        return b'', False, []

    # Static server cursors: the whole result is read when the cursor opens.

    def rpc_sp_cursoropen(self, params):
        stmt = params[1][1]
        declared = params[5][1] if len(params) > 5 else ''
        bound = self.bind(declared, params[6:])
        statements = split_statements(stmt)
        if len(statements) != 1:
            raise SqlError(16937, 'A server cursor is not allowed on a remote stored procedure or stored '
                                  'procedure with more than one SELECT statement.')
        out, pieces = self.strip_control(statements[0])
        tsql = join_pieces(pieces)
        if not re.match(r'\s*select\b', tsql, re.I):
            # As SQL Server does: no cursor, the statement runs as it is.
            try:
                out += self.run_statement(pieces, bound, TOK_DONEINPROC)
            except sqlite3.Error as e:
                raise sql_error(e)
            out += info_token(16954, 'Executing SQL directly; no cursor.')
            return out, False, [(0, params[0][0], 0)]
        self.refresh_schema()
        self.lock_statement(pieces)
        try:
            cur = self.db.execute(translate(pieces, self.trancount, self.days_first, self.text_columns), bound)
        except sqlite3.Error as e:
            raise sql_error(e)
        rows = cur.fetchall()
        names = [d[0] for d in cur.description]
        types = self.column_types(tsql, names, rows)
        handle = self.new_handle()
        # first: the 1-based number of the first row of the last fetch; size: how many it fetched.
        self.cursors[handle] = {'names': names, 'types': types, 'rows': rows, 'first': 0, 'size': 0}
        # The metadata goes out at open; rows come with sp_cursorfetch.
        out += self.result_set(names, types, []) + done(TOK_DONEINPROC, DONE_MORE, 0)
        return out, False, [(0, params[0][0], handle), (2, params[2][0], 0x0008),
                            (3, params[3][0], 0x0001), (4, params[4][0], len(rows))]

    def rpc_sp_cursorfetch(self, params):
        c = self.cursors.get(params[0][1])
        if c is None:
            raise SqlError(16916, 'A cursor with the name specified does not exist.')
        value = lambda i, default: params[i][1] if len(params) > i and params[i][1] is not None else default
        fetch, rownum, count = value(1, 2), value(2, 0), value(3, 1)
        total = len(c['rows'])
        if fetch == 0x100:
            # INFO: where the cursor stands and how many rows it has.
            return b'', False, [(2, params[2][0], c['first']), (3, params[3][0], total)]
        first = {1: 1, 2: c['first'] + c['size'] if c['first'] else 1, 4: c['first'] - count, 8: total - count + 1,
                 0x10: rownum if rownum >= 0 else total + rownum + 1,
                 0x20: c['first'] + rownum, 0x80: c['first']}.get(fetch & 0xFF)
        if first is None:
            raise SqlError(16902, 'sp_cursorfetch: The value of the parameter fetchtype is invalid '
                                  '(this test server knows FIRST, NEXT, PREV, LAST, ABSOLUTE, RELATIVE, REFRESH, INFO).')
        rows = c['rows'][first - 1:first - 1 + count] if 1 <= first <= total else []
        c['first'], c['size'] = (first, len(rows)) if rows else (0 if first < 1 else total + 1, 0)
        out = self.result_set(c['names'], c['types'], rows) + done(TOK_DONEINPROC, DONE_MORE, len(rows))
        return out, False, []

    def rpc_sp_cursorclose(self, params):
        self.cursors.pop(params[0][1], None)
        return b'', False, []

    def rpc_sp_cursoroption(self, params):
        return b'', False, []

    # -------- backup

    def backup(self, database, target, done_token):
        shown, target = target, self.server.host_path(target)
        folder = os.path.dirname(target)
        live = os.path.realpath(self.server.database)
        abnormal = SqlError(3013, 'BACKUP DATABASE is terminating abnormally.')
        if 'backup' in self.server.denied.get(self.user.lower(), ()):
            raise SqlError(262, "BACKUP DATABASE permission denied in database '%s'." % database, severity=14,
                           then=abnormal)
        if self.trancount:
            raise SqlError(3021, 'Cannot perform a backup or restore operation within a transaction.', then=abnormal)
        if not os.path.isabs(target) or not os.path.isdir(folder) or os.path.realpath(target) == live:
            raise SqlError(3201, "Cannot open backup device '%s'. Operating system error 3(The system cannot "
                                 "find the path specified.)." % shown, state=2, then=abnormal)
        if os.path.realpath(folder) in self.server.unwritable_folders:
            raise SqlError(3201, "Cannot open backup device '%s'. Operating system error 5(Access is denied.)."
                           % shown, state=1, then=abnormal)
        pages = max(1, os.path.getsize(self.server.database) // 8192)
        steps = [info_token(3211, '%d percent processed.' % p) for p in (10, 20, 30, 40, 50, 60, 70, 80, 90, 100)]
        steps += [info_token(4035, "Processed %d pages for database '%s', file '%s' on file 1." % (pages, database, database)),
                  info_token(4035, "Processed 2 pages for database '%s', file '%s_log' on file 1." % (database, database)),
                  info_token(3014, 'BACKUP DATABASE successfully processed %d pages in 0.052 seconds (%.3f MB/sec).'
                             % (pages + 2, (pages + 2) * 8192 / 1048576 / 0.052))]
        # One message and a DONE_MORE per packet, a moment between packets,
        # as a running backup would: a client that drops the statement sends
        # its ATTENTION in between and gets no file.
        # The last wait is longer, so that a slow client's cancel still comes
        # before the file.
        for i, step in enumerate(steps):
            self.send(step + done(done_token, DONE_MORE), last=False)
            pause = self.server.backup_pause if i + 1 < len(steps) else max(0.2, self.server.backup_pause)
            if self.attention_pending(pause):
                raise Cancelled
        part = target + '.part'
        if os.path.exists(part):
            os.remove(part)
        self.db.execute('vacuum into ?', (part,))
        os.replace(part, target)
        return b''


# -------- control commands (one line each on stdin, one answer each on stdout)

CONTROL = {}


def control(name):
    """Registers fn(server, args) -> str as the control command name."""
    def register(fn):
        CONTROL[name] = fn
        return fn
    return register


@control('ping')
def control_ping(server, args):
    return 'pong'


class Faults:
    """The faults armed through the control channel, shared by every session.
    Each is a dict: kind ('rows', 'bytes', 'freeze'), n, action ('cut' or
    'freeze') and when (words the statement must hold, or None)."""
    def __init__(self):
        self.lock = threading.Lock()
        self.armed = []
        self.pace = 0.0
        self.thawed = threading.Event()
        self.thawed.set()
        self.thaws = 0  # thaw commands so far
        self.thaw_seen = threading.Condition(self.lock)

    def arm(self, kind, n, action, when):
        with self.lock:
            self.armed.append({'kind': kind, 'n': n, 'action': action, 'when': when})

    def take(self, kind, sql, fits=lambda f: True):
        with self.lock:
            for f in self.armed:
                if f['kind'] == kind and (f['when'] is None or f['when'] in sql.lower()) and fits(f):
                    self.armed.remove(f)
                    return f
        return None

    def take_rows(self, count, sql):
        f = self.take('rows', sql, lambda f: count > f['n'])
        return (f['n'], f['action']) if f else None

    def take_bytes(self, sql):
        f = self.take('bytes', sql)
        return f['n'] if f else None

    def take_freeze(self, sql):
        return self.take('freeze', sql) is not None

    def before_reply(self):
        self.thawed.wait()

    def thaw(self):
        with self.lock:
            self.thaws += 1
            self.thaw_seen.notify_all()
        self.thawed.set()

    def wait_thaw_after(self, thaws):
        with self.lock:
            self.thaw_seen.wait_for(lambda: self.thaws > thaws)


def fault_args(args):
    """(n or None, when or None) from "[rows|bytes N] [when WORDS...]"."""
    n, when = None, None
    if 'when' in args:
        at = args.index('when')
        when = ' '.join(args[at + 1:]).lower()
        if not when:
            raise ValueError('"when" needs the words to wait for')
        args = args[:at]
    if args:
        if len(args) != 2 or args[0] not in ('rows', 'bytes') or not args[1].isdigit():
            raise ValueError('expected "rows N" or "bytes N"')
        n = int(args[1])
    return n, when


@control('cut')
def control_cut(server, args):
    """cut rows N | cut bytes N [when WORDS]: that statement's answer ends there, and the connection with it."""
    n, when = fault_args(args)
    if n is None:
        raise ValueError('expected "cut rows N" or "cut bytes N"')
    server.faults.arm(args[0], n, 'cut', when)
    return ''


@control('freeze')
def control_freeze(server, args):
    """freeze: no answer at all until thaw; freeze rows N [when WORDS]: that
    result stops after N rows; freeze when WORDS: that statement gets no answer."""
    n, when = fault_args(args)
    if n is not None and args[0] != 'rows':
        raise ValueError('expected "freeze rows N"')
    if n is not None:
        server.faults.arm('rows', n, 'freeze', when)
    elif when is not None:
        server.faults.arm('freeze', None, 'freeze', when)
    else:
        server.faults.thawed.clear()
    return ''


@control('thaw')
def control_thaw(server, args):
    server.faults.thaw()
    return ''


@control('pace')
def control_pace(server, args):
    """pace SECONDS: the packets of every answer go out that far apart; pace 0 ends it."""
    if len(args) != 1:
        raise ValueError('expected "pace SECONDS"')
    server.faults.pace = max(0.0, float(args[0]))
    return ''


@control('faults')
def control_faults(server, args):
    """What is still armed, the pace, and whether every answer is frozen."""
    f = server.faults
    with f.lock:
        armed = ' '.join('%s:%s:%s:%s' % (a['kind'], a['n'], a['action'], a['when']) for a in f.armed)
    return 'armed=[%s] pace=%s frozen=%s' % (armed, f.pace, not f.thawed.is_set())


def login_credentials(data):
    """The user name and password of a LOGIN7 message. The password travels
    with each byte's halves swapped and then XORed with 0xA5."""
    off, n = struct.unpack('<HH', data[40:44])
    user = data[off:off + 2 * n].decode('utf-16-le', 'replace')
    off, n = struct.unpack('<HH', data[44:48])
    raw = bytes((((b ^ 0xA5) << 4) & 0xF0) | ((b ^ 0xA5) >> 4) for b in data[off:off + 2 * n])
    return user, raw.decode('utf-16-le', 'replace')


@control('logins')
def control_logins(server, args):
    """Every login so far, "user:password" each as the hex of its UTF-8, separated by blanks."""
    return ' '.join('%s:%s' % (u.encode('utf-8').hex(), p.encode('utf-8').hex()) for u, p in server.logins)


@control('hold')
def control_hold(server, args):
    """hold TABLE [shared|exclusive] (exclusive by default), or hold
    applock RESOURCE [MODE]: another session takes the lock (waiting for
    it, up to 10 s) and keeps it until "release"."""
    if args and args[0].lower() == 'applock':
        resource, mode = ('app', args[1].lower()), LOCK_MODES[(args[2] if len(args) > 2 else 'exclusive').lower()]
    else:
        mode = {'shared': 'S', 'exclusive': 'X'}[(args[1] if len(args) > 1 else 'exclusive').lower()]
        resource = ('table', args[0].lower())
    if not server.locks.acquire(CONTROL_OWNER, resource, mode, 10000):
        raise RuntimeError('lock not granted within 10 s: %s' % server.locks.describe())
    return server.locks.describe()


@control('release')
def control_release(server, args):
    """release: the control session lets go of every lock it holds."""
    server.locks.release_owner(CONTROL_OWNER)
    return server.locks.describe()


@control('locks')
def control_locks(server, args):
    """"waiting=N held=kind:name:mode,...": how many requests wait, and every lock held."""
    return server.locks.describe()


@control('deny')
def deny_rights(server, args):
    """deny LOGIN RIGHT...: the login (by name, as it logs in) loses each
    right, as a site's own restricted login lacks them: create-table,
    alter, backup, or select/insert/update/delete:TABLE. "deny LOGIN" alone
    gives every right back."""
    if not args:
        raise ValueError('deny needs a login name')
    rights = set()
    for word in args[1:]:
        verb, _, table = word.lower().partition(':')
        if verb in ('create-table', 'alter', 'backup') and not table:
            rights.add(verb)
        elif verb in ('select', 'insert', 'update', 'delete') and table:
            rights.add(verb + ':' + table)
        else:
            raise ValueError('no such right: %s' % word)
    server.denied[args[0].lower()] = rights
    return ''


@control('backup-unwritable')
def backup_unwritable(server, args):
    """backup-unwritable FOLDER...: folders the server's service account may
    not write, so that a backup there fails with operating system error 5."""
    server.unwritable_folders = {os.path.realpath(server.host_path(a)) for a in args}
    return ''


ENCRYPT_OFF, ENCRYPT_ON, ENCRYPT_NOT_SUP, ENCRYPT_REQ = 0, 1, 2, 3


def prelogin_options(data):
    """A PRELOGIN packet's options: {token: value}."""
    out, pos = {}, 0
    try:
        while pos < len(data) and data[pos] != 0xFF:
            token, offset, length = struct.unpack('>BHH', data[pos:pos + 5])
            out[token] = data[offset:offset + length]
            pos += 5
    except struct.error:
        pass
    return out


def negotiate_encryption(server, client):
    """The ENCRYPTION answer to the client's, as SQL Server answers: without
    a certificate none (the client that requires it gives up); with one, the
    login encrypted when the client asks for that (FreeTDS's "request") and
    everything when it requires it or --tls-force says so."""
    if server.tls_context is None or client == bytes([ENCRYPT_NOT_SUP]):
        return ENCRYPT_NOT_SUP
    if client in (bytes([ENCRYPT_ON]), bytes([ENCRYPT_REQ])) or server.tls_force:
        return ENCRYPT_ON
    return ENCRYPT_OFF


class TlsSocket:
    """The connection's socket once TLS is on: what Session reads and sends
    goes through the TLS object; anything else is the socket's."""

    def __init__(self, sock, tls, incoming, outgoing):
        self.raw, self.tls, self.incoming, self.outgoing = sock, tls, incoming, outgoing
        self.buffer = b''

    def __getattr__(self, name):
        return getattr(self.raw, name)

    def fileno(self):
        return self.raw.fileno()

    def recv(self, n, flags=0):
        while not self.buffer:
            try:
                self.buffer = self.tls.read(65536)
                if not self.buffer:
                    return b''
            except ssl.SSLWantReadError:
                raw = self.raw.recv(65536)
                if not raw:
                    return b''
                self.incoming.write(raw)
            except ssl.SSLZeroReturnError:
                return b''
        data = self.buffer[:n]
        if not flags & socket.MSG_PEEK:
            self.buffer = self.buffer[n:]
        return data

    def sendall(self, data):
        self.tls.write(data)
        self.raw.sendall(self.outgoing.read())


def tls_context(cert_file):
    """A server context for the certificate (and its key) in one PEM file.
    TLS 1.2 at most: what SQL Server offers inside TDS 7.x pre-login."""
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(cert_file)
    return ctx


BROWSER_PORT = 1434  # SQL Server Browser's UDP port; FreeTDS asks no other


@control('browser')
def browser(server, args):
    """browser INSTANCE: answers SQL Server Browser's requests on loopback
    UDP 1434 for the named instance with this server's TCP port, so that
    FreeTDS finds "SERVER=127.0.0.1\\INSTANCE" without a port. ERR when
    the port is taken (another Browser, another test)."""
    if len(args) != 1:
        raise ValueError('browser needs one instance name')
    if server.browser is None:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            sock.bind(('127.0.0.1', BROWSER_PORT))
        except OSError as e:
            sock.close()
            raise OSError('UDP port %d on 127.0.0.1 is taken: %s' % (BROWSER_PORT, e.strerror))
        server.browser = sock
        threading.Thread(target=answer_browser_requests, args=(server, sock), daemon=True).start()
    server.instance = args[0]
    return str(BROWSER_PORT)


def answer_browser_requests(server, sock):
    """CLNT_UCAST_INST (0x04, the instance name, NUL) gets SVR_RESP (0x05,
    the length, "ServerName;...;tcp;PORT;;") when the instance is ours;
    CLNT_UCAST_EX (0x03) the list of instances; anything else nothing, as
    the Browser ignores what it does not know."""
    host = SERVER_NAME
    while True:
        try:
            data, peer = sock.recvfrom(4096)
        except OSError:
            return
        entry = ('ServerName;%s;InstanceName;%s;IsClustered;No;Version;15.0.2000.5;tcp;%d;;'
                 % (host, server.instance, server.server_address[1]))
        if data[:1] == b'\x04':
            asked = data[1:].split(b'\0', 1)[0].decode('ascii', 'replace')
            if asked.upper() != server.instance.upper():
                continue
        elif data[:1] not in (b'\x02', b'\x03'):
            continue
        server.log('browser %s' % data[1:].split(b'\0', 1)[0].decode('ascii', 'replace'))
        body = entry.encode('ascii')
        sock.sendto(b'\x05' + struct.pack('<H', len(body)) + body, peer)


def login_user(data):
    """The login name of a LOGIN7 packet."""
    off, n = struct.unpack('<HH', data[40:44])
    return data[off:off + 2 * n].decode('utf-16-le')


RIGHTS_VERB_RE = re.compile(r'^\s*(?:(create\s+table)|alter\s+table\s+(?:\w+\.)*(\w+)|(insert)(?:\s+into)?\s+(?:\w+\.)*(\w+)'
                            r'|(update)\s+(?:\w+\.)*(\w+)|(delete)(?:\s+from)?\s+(?:\w+\.)*(\w+)|(select)\b)', re.I)


def check_rights(session, tsql):
    """Refuses the statement as SQL Server refuses a login without the right."""
    denied = session.server.denied.get(session.user.lower())
    if not denied:
        return
    m = RIGHTS_VERB_RE.match(tsql)
    if not m:
        return
    if m.group(1):
        if 'create-table' in denied:
            raise SqlError(262, "CREATE TABLE permission denied in database 'www'.", severity=14)
        return
    if m.group(2):
        if 'alter' in denied:
            raise SqlError(1088, 'Cannot find the object "%s" because it does not exist or you do not have '
                                 'permissions.' % m.group(2), severity=16, state=13)
        return
    verb, table = next((m.group(i), m.group(i + 1)) for i in (3, 5, 7) if m.group(i)) if not m.group(9) else ('select', None)
    wanted = [(verb.lower(), table.lower())] if table else []
    # Every table the statement reads (a subquery, insert ... select).
    wanted += [('select', t) for t in session.columns if t != (table or '').lower()
               and re.search(r'\b%s\b' % re.escape(t), tsql, re.I)]
    for v, t in wanted:
        if '%s:%s' % (v, t) in denied:
            raise SqlError(229, "The %s permission was denied on the object '%s', database 'www', schema 'dbo'."
                           % (v.upper(), t), severity=14, state=5)


def run_control(server, line):
    words = line.split()
    if not words:
        return None
    fn = CONTROL.get(words[0])
    if fn is None:
        return 'ERR unknown control command %s' % words[0]
    try:
        result = fn(server, words[1:])
    except Exception as e:
        return 'ERR %s: %s' % (type(e).__name__, e)
    return 'OK' if not result else 'OK ' + result


IMPORT_BATCH_MARK = 'declare @lectoria_refused table'
IMPORT_BATCH_SAVEPOINT = 'lectoria_batch'
IMPORT_RECORD_RE = re.compile(r'save transaction lectoria_record\s+begin try\s+(.*?)\s+end try\s+begin catch(.*?)'
                              r'end catch', re.S | re.I)
IMPORT_REFUSALS_RE = re.compile(r'not in \(([\d,\s]+)\)', re.I)


@functools.lru_cache(maxsize=16)
def parse_import_batch(sql):
    """An import's batch as the console sends it: after its prologue
    (SET NOCOUNT ON, the table variable @lectoria_refused, SAVE TRANSACTION
    lectoria_batch), per record

        save transaction lectoria_record
        begin try <insert> end try
        begin catch
          (rollback as xact_state() says; a row into @lectoria_refused)
          if @@trancount = 0 or error_number() not in (<numbers>) goto lectoria_end
        end catch

    then lectoria_end: and the SELECT of the refused records with @@trancount.
    (the inserts as scan() pieces, the refusal numbers)."""
    blocks = IMPORT_RECORD_RE.findall(sql)
    if not blocks or 'lectoria_end:' not in sql:
        raise SqlError(102, "Incorrect syntax near 'lectoria_end'.")
    inserts = []
    for insert, _ in blocks:
        statements = split_statements(insert)
        if len(statements) != 1:
            raise SqlError(102, "Incorrect syntax near 'end'.")
        inserts.append(statements[0])
    m = IMPORT_REFUSALS_RE.search(blocks[0][1])
    refusals = frozenset(int(n) for n in m.group(1).split(',')) if m else frozenset()
    return tuple(inserts), refusals


def first_words(sql, n=4):
    return ' '.join(sql.split()[:n])


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        session = Session(self.server, self.request)
        try:
            session.handle()
        finally:
            if session.db is not None:
                session.db.close()
            session.session_done()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, database, log_path, backup_pause, tls_cert=None, tls_force=False):
        super().__init__(('127.0.0.1', 0), Handler)
        self.database = database
        self.backup_pause = backup_pause
        self.faults = Faults()
        self.denied = {}  # login name -> the rights it lacks (see deny_rights)
        self.tls_context = tls_context(tls_cert) if tls_cert else None
        self.tls_force = tls_force
        self.browser, self.instance = None, ''  # see browser()
        self.unwritable_folders = set()
        self.log_file = open(log_path, 'a', encoding='utf-8') if log_path else None
        self.log_lock = threading.Lock()
        self.locks = LockManager()
        self.logins = []  # (user name, password) of every login, in order
        self.drives = {}  # drive letter -> host folder (see host_path)

    def host_path(self, path):
        """A path as the server's machine names it. With --drive, the server
        stands in for SQL Server on a Windows machine (under Wine): a path
        with a mapped drive letter is that drive's folder on the host."""
        m = re.match(r'^([A-Za-z]):[\\/]', path)
        if m and m.group(1).upper() in self.drives:
            rest = path[3:].replace('\\', '/')
            return os.path.join(self.drives[m.group(1).upper()], rest)
        return path

    def log(self, line):
        if self.log_file:
            with self.log_lock:
                self.log_file.write(line.replace('\n', ' ') + '\n')
                self.log_file.flush()


def self_signed_certificate():
    """A PEM file with a new self-signed certificate for 127.0.0.1 and its
    key, made by the host's openssl (the server is a host program, so a
    Windows test program under Wine gets one too)."""
    folder = tempfile.mkdtemp(prefix='tdsserver-tls-')
    key, cert = os.path.join(folder, 'key.pem'), os.path.join(folder, 'cert.pem')
    try:
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
                        '-subj', '/CN=127.0.0.1', '-keyout', key, '-out', cert],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        sys.exit('openssl cannot make a certificate: %s' % e)
    pem = os.path.join(folder, 'server.pem')
    with open(pem, 'wb') as out, open(key, 'rb') as k, open(cert, 'rb') as c:
        out.write(k.read() + c.read())
    return pem


def main():
    parser = argparse.ArgumentParser(description='TDS test server answering from an SQLite database.')
    parser.add_argument('database')
    parser.add_argument('--port-file')
    parser.add_argument('--log')
    parser.add_argument('--tls-cert', help='PEM file with a certificate and its key: TLS logins are made')
    parser.add_argument('--tls-self-signed', action='store_true',
                        help='make a self-signed certificate for 127.0.0.1 with openssl and use it as --tls-cert')
    parser.add_argument('--tls-force', action='store_true',
                        help='encrypt everything, also for a client that asks for the login only')
    parser.add_argument('--backup-pause', type=float, default=0.02,
                        help='seconds between the packets of a backup\'s messages')
    parser.add_argument('--drive', action='append', default=[], metavar='LETTER=FOLDER',
                        help='a Windows drive as a host folder, for paths a Windows client sends')
    parser.add_argument('--control-file',
                        help='take control commands over loopback TCP instead of stdin: '
                             'FILE gets "PORT <n> CONTROL <m>"; the server stops when that '
                             'connection closes (or when none comes within a minute)')
    args = parser.parse_args()
    if not os.path.isfile(args.database):
        sys.exit('no such database file: %s' % args.database)
    if args.tls_self_signed:
        args.tls_cert = self_signed_certificate()
    server = Server(os.path.abspath(args.database), args.log, args.backup_pause, args.tls_cert, args.tls_force)
    if args.tls_self_signed:  # loaded: the files are no longer needed
        shutil.rmtree(os.path.dirname(args.tls_cert), ignore_errors=True)
    for d in args.drive:
        letter, _, folder = d.partition('=')
        server.drives[letter.upper()] = folder
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + '.tmp', 'w') as f:
            f.write('%d\n' % port)
        os.replace(args.port_file + '.tmp', args.port_file)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    if args.control_file:
        # For a caller that cannot hand this process pipes (a Windows test
        # program under Wine starting it as a host program).
        control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        control.bind(('127.0.0.1', 0))
        control.listen(1)
        with open(args.control_file + '.tmp', 'w') as f:
            f.write('PORT %d CONTROL %d\n' % (port, control.getsockname()[1]))
        os.replace(args.control_file + '.tmp', args.control_file)

        def watch_control():
            try:
                control.settimeout(60)
                conn, _ = control.accept()
                control.close()
                conn.settimeout(None)
                for raw in conn.makefile('rb'):
                    answer = run_control(server, raw.decode('utf-8', 'replace').strip())
                    if answer is not None:
                        conn.sendall((answer + '\n').encode('utf-8'))
            except OSError:
                pass
            finally:
                os._exit(0)

        threading.Thread(target=watch_control, daemon=True).start()
        server.serve_forever()
        return
    print('PORT %d' % port, flush=True)

    def watch_stdin():
        try:
            for raw in sys.stdin.buffer:
                answer = run_control(server, raw.decode('utf-8', 'replace').strip())
                if answer is not None:
                    print(answer, flush=True)
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever()


if __name__ == '__main__':
    main()
