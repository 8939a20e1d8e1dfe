-- Tables for exercising the database layer's conversions.
CREATE TABLE T (
  ID INTEGER,
  V VARCHAR(64),
  W VARCHAR(64),
  C CHAR(4),
  N INTEGER
);

CREATE TABLE EMPTY_T (K VARCHAR(10));

-- CHAR columns whose characters take more than one byte, and one of a single-byte set.
CREATE TABLE WIDE (
  U CHAR(2) CHARACTER SET UTF8,
  G CHAR(2) CHARACTER SET GB18030,
  S CHAR(2) CHARACTER SET SJIS_0208,
  K CHAR(2) CHARACTER SET KOI8U
);
