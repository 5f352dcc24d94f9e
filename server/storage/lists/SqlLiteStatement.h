#pragma once
// One prepared SQLite statement with bound parameters, finalized when it goes
// out of scope. Values never become part of the SQL text, so texts with
// quotes or of any length are stored as they are.

#include <sqlite3.h>

#include <initializer_list>
#include <string>
#include <string_view>

class CSqlLiteStatement {
public:
    CSqlLiteStatement(sqlite3* db, const char* sql);
    ~CSqlLiteStatement();
    CSqlLiteStatement(const CSqlLiteStatement&) = delete;
    CSqlLiteStatement& operator=(const CSqlLiteStatement&) = delete;

    // SQLITE_OK when the statement was prepared.
    int PrepareResult() const { return prepareResult_; }

    // Parameters count from 1. A null text or blob binds NULL.
    CSqlLiteStatement& BindInt(int index, int value);
    CSqlLiteStatement& BindText(int index, const char* text);
    CSqlLiteStatement& BindText(int index, const std::string& text);
    CSqlLiteStatement& BindBlob(int index, const void* data, int size);
    // The texts to the parameters 1, 2, ... in order.
    CSqlLiteStatement& BindTexts(std::initializer_list<const char*> texts);

    // SQLITE_ROW, SQLITE_DONE or an error; a statement that failed to prepare
    // answers its prepare result.
    int Step();

    // Runs to the end: SQLITE_OK when it finished, else the error.
    int Run();

    // The statement's text with the bound values in place, for diagnostics.
    std::string ExpandedSql() const;

    int ColumnInt(int column) const;
    // "" for NULL.
    std::string ColumnText(int column) const;
    // The same without a copy; valid until the next step.
    std::string_view ColumnView(int column) const;
    const void* ColumnBlob(int column) const;
    int ColumnBytes(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int prepareResult_;
    int bindResult_ = SQLITE_OK;
};
