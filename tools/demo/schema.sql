-- Those tables of the library web site's database that the console uses, as an
-- embedded SQLite database. Column types follow the site's SQL Server schema;
-- text columns the site declares CHAR(n) are declared so here as well, and
-- compare without case as the site's collation (Chinese_PRC_CI_AS) does;
-- the statements compare them without trailing blanks (see the dialect).
-- NOCASE is SQLite's own: every reader of the file knows it.
create table www_shtype (lt_id integer primary key, lt_notice char(32) collate nocase);
create table www_litype (lt_id integer primary key, lt_notice char(32) collate nocase);
create table www_artype (lt_id integer primary key, lt_notice char(32) collate nocase);
create table www_artypes (ls_id integer not null, ls_sid integer not null, ls_notice char(32) collate nocase, primary key (ls_id, ls_sid));
create table www_pitype (lt_id integer primary key, lt_notice char(32) collate nocase);
create table www_mutype (lt_id integer primary key, lt_notice char(32) collate nocase);
create table www_vitype (lt_id integer primary key, lt_notice char(32) collate nocase);

create table www_shdh (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_about text, li_picurl text, li_from text, li_linkurl text);
create table www_lineread (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_format text, li_tools text, li_url text,
  li_number int default(1));
create table www_article (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_subid integer, li_format integer, li_author char(50) collate nocase, li_linkurl text, li_pic text, li_intro text);
create table www_picture (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_simage char(128) collate nocase, li_image char(128) collate nocase);
create table www_music (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_format text, li_level integer, li_tools integer, li_url char(128) collate nocase);
create table www_video (
  li_id integer primary key,
  li_title char(128) collate nocase, li_typeid integer,
  li_logtime datetime default (datetime('now','localtime')),
  li_content text,
  li_format text, li_level integer, li_tools integer, li_times integer, li_url char(128) collate nocase);

create index ix_shdh_logtime on www_shdh (li_logtime);
create index ix_lineread_logtime on www_lineread (li_logtime, li_title);
create index ix_article_logtime on www_article (li_logtime);
create index ix_picture_logtime on www_picture (li_logtime);
create index ix_music_logtime on www_music (li_logtime);
create index ix_video_logtime on www_video (li_logtime);
-- The listings' order (category, newest first): a listing's first page is
-- read without sorting the whole table first.
create index ix_shdh_type on www_shdh (li_typeid, li_logtime desc);
create index ix_lineread_type on www_lineread (li_typeid, li_logtime desc);
create index ix_article_type on www_article (li_typeid, li_subid, li_logtime desc);
create index ix_picture_type on www_picture (li_typeid, li_logtime desc);
create index ix_music_type on www_music (li_typeid, li_logtime desc);
create index ix_video_type on www_video (li_typeid, li_logtime desc);

create table www_admin (
  ad_code char(6) collate nocase not null constraint PK_www_admin primary key,
  ad_name char(20) collate nocase not null,
  ad_pass char(6) collate nocase not null,
  ad_auth1 char(1) collate nocase not null, ad_auth2 char(1) collate nocase not null, ad_auth3 char(1) collate nocase not null, ad_auth4 char(1) collate nocase not null,
  ad_auth5 char(1) collate nocase not null, ad_auth6 char(1) collate nocase not null, ad_auth7 char(1) collate nocase not null, ad_auth8 char(1) collate nocase not null,
  ad_auth9 char(1) collate nocase not null, ad_auth10 char(1) collate nocase not null, ad_auth11 char(1) collate nocase not null, ad_auth12 char(1) collate nocase not null,
  ad_auth13 char(1) collate nocase not null, ad_auth14 char(1) collate nocase not null, ad_auth15 char(1) collate nocase not null, ad_auth16 char(1) collate nocase not null,
  ad_auth17 char(1) collate nocase not null, ad_auth18 char(1) collate nocase not null, ad_auth19 char(1) collate nocase not null,
  lo_time datetime);
