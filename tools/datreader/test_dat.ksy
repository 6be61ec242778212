meta:
  id: test_dat
  title: Date recorder record file (test.dat)
  file-extension: dat
  endian: le
doc: |
  The file the date recorder appends to, one record per Add, oldest first.
  No header, no record count, no terminator, no checksum. Record n starts at
  byte 6 * n. A size that is not a multiple of six means the file ends in a
  partial record; its bytes are kept in `trailing` instead of failing the parse.
  Month and day are not checked here: a record may hold any numbers, and
  readers should say when they are not a calendar date.
seq:
  - id: records
    type: date_record
    repeat: expr
    repeat-expr: _io.size / 6
  - id: trailing
    size-eos: true
    doc: The 0 to 5 bytes after the last whole record; empty in an intact file.
types:
  date_record:
    doc: Example - 31 January 2012 is the bytes DC 07 01 00 1F 00.
    seq:
      - id: year
        type: u2
      - id: month
        type: u2
        doc: 1 to 12 in a calendar date.
      - id: day
        type: u2
        doc: 1 to 31 in a calendar date, within the month's length.
