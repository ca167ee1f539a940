#pragma once

// The CSV that spreadsheets save: fields separated by ',', ';' or a tab (whichever the first
// line uses, or what Excel's first line "sep=X" names), quoted fields with "" for a quote, lines
// ended by LF, CRLF or a lone CR. Every fault carries its line and field number, and reading goes
// on after it, so one broken quote does not hide the faults of the rows after it.

#include <string>
#include <string_view>
#include <vector>

struct CsvFault {
    int Line;   // 1-based physical line
    int Column; // 1-based field number within the record
    std::string Text;
};

struct CsvRecord {
    int Line; // where the record begins
    std::vector<std::string> Fields;
};

class CsvReader {
  public:
    // `text` must outlive the reader. A UTF-8 byte order mark at its start is skipped.
    explicit CsvReader(std::string_view text);

    // The next record into `record`; false at the end of the text. Lines that hold only blanks
    // and records whose fields are all empty (a spreadsheet's empty rows) are skipped. A record
    // with a fault is reported in `faults` and skipped.
    bool Next(CsvRecord& record, std::vector<CsvFault>& faults);

    char Separator() const { return Sep; }

  private:
    enum class Field { Ended, LineEnded, Broken };
    Field ReadField(std::string& out, CsvFault& fault, int column);
    // A field in quotes, from its opening quote on: quotes doubled inside, separators and line
    // ends kept; only blanks may stand between the closing quote and the separator.
    Field ReadQuoted(std::string& out, CsvFault& fault, int column);
    // A field without quotes, up to the separator or the line end, blanks around it dropped.
    Field ReadPlain(std::string& out, CsvFault& fault, int column);
    bool AtLineEnd() const;
    void SkipLineEnd();
    void SkipRestOfLine();
    bool Blank(char c) const { return c == ' ' || (c == '\t' && Sep != '\t'); }

    // What ends a run of plain bytes: QuotedStop inside quotes and out (quote, CR, LF),
    // PlainStop only outside (the separator). One look-up a byte, not a comparison for each.
    static constexpr unsigned char QuotedStop = 1, PlainStop = 2;
    unsigned char Stops[256] = {};

    std::string_view Text;
    std::size_t At = 0;
    int Line = 1;
    char Sep = ',';
};

// One CSV line (ending in "\n") of the fields, separated by commas. A field is quoted when it
// holds a comma, quote, control character or begins or ends with a blank (a reader drops those
// around a field without quotes); quotes inside are doubled. A field that begins with =, +, -
// or @, which a spreadsheet would run as a formula, is written as the formula ="field", which
// shows the text; the plan reader takes it back as the field.
std::string CsvLine(const std::vector<std::string>& fields);
