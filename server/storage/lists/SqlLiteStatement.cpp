#include "server/storage/lists/SqlLiteStatement.h"

CSqlLiteStatement::CSqlLiteStatement(sqlite3* db, const char* sql)
    : prepareResult_(db == nullptr ? SQLITE_MISUSE : sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr))
{
    if (prepareResult_ == SQLITE_OK && stmt_ == nullptr)
        prepareResult_ = SQLITE_MISUSE; // empty SQL
}

CSqlLiteStatement::~CSqlLiteStatement()
{
    sqlite3_finalize(stmt_);
}

CSqlLiteStatement& CSqlLiteStatement::BindInt(int index, int value)
{
    if (stmt_ != nullptr && bindResult_ == SQLITE_OK)
        bindResult_ = sqlite3_bind_int(stmt_, index, value);
    return *this;
}

CSqlLiteStatement& CSqlLiteStatement::BindText(int index, const char* text)
{
    if (stmt_ != nullptr && bindResult_ == SQLITE_OK)
        bindResult_ = text == nullptr ? sqlite3_bind_null(stmt_, index)
                                      : sqlite3_bind_text(stmt_, index, text, -1, SQLITE_TRANSIENT);
    return *this;
}

CSqlLiteStatement& CSqlLiteStatement::BindText(int index, const std::string& text)
{
    if (stmt_ != nullptr && bindResult_ == SQLITE_OK)
        bindResult_ = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

CSqlLiteStatement& CSqlLiteStatement::BindBlob(int index, const void* data, int size)
{
    if (stmt_ != nullptr && bindResult_ == SQLITE_OK)
        bindResult_ = data == nullptr || size < 0 ? sqlite3_bind_null(stmt_, index)
                                                  : sqlite3_bind_blob(stmt_, index, data, size, SQLITE_TRANSIENT);
    return *this;
}

CSqlLiteStatement& CSqlLiteStatement::BindTexts(std::initializer_list<const char*> texts)
{
    int index = 1;
    for (const char* text : texts)
        BindText(index++, text);
    return *this;
}

int CSqlLiteStatement::Step()
{
    if (prepareResult_ != SQLITE_OK)
        return prepareResult_;
    if (bindResult_ != SQLITE_OK)
        return bindResult_;
    return sqlite3_step(stmt_);
}

int CSqlLiteStatement::Run()
{
    int rc;
    while ((rc = Step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::string CSqlLiteStatement::ExpandedSql() const
{
    char* text = stmt_ == nullptr ? nullptr : sqlite3_expanded_sql(stmt_);
    std::string out = text == nullptr ? std::string() : std::string(text);
    sqlite3_free(text);
    return out;
}

int CSqlLiteStatement::ColumnInt(int column) const
{
    return sqlite3_column_int(stmt_, column);
}

std::string CSqlLiteStatement::ColumnText(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr)
        return {};
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::string_view CSqlLiteStatement::ColumnView(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr)
        return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

const void* CSqlLiteStatement::ColumnBlob(int column) const
{
    return sqlite3_column_blob(stmt_, column);
}

int CSqlLiteStatement::ColumnBytes(int column) const
{
    return sqlite3_column_bytes(stmt_, column);
}
