-- Tables for exercising the database layer's conversions.
CREATE TABLE T (
  ID INTEGER,
  V VARCHAR(64),
  W VARCHAR(64),
  C CHAR(4),
  N INTEGER
);

CREATE TABLE EMPTY_T (K VARCHAR(10));
