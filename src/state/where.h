// The play origin ("where") of the current song: a short code for the
// service's history, a long name for the play manager file.
#pragma once

#include <string>

// Stores the short code of a play origin's long name (any letter case);
// unknown names leave it unchanged.
void setWhereEvent(const std::string& name);
// The long name of the stored code; empty for none.
std::string strWhereLong();
const std::string& where_code();
void clear_where();
