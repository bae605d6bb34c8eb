// The sample database of the README's main command.
#pragma once

#include <string>

namespace q4::lite {

// Creates the sample database in `path`, which must not exist yet, from the
// script compiled into the server (server/storage/sample/sample.sql). Returns false
// with *error set on failure (a partly written file is removed).
bool create_sample_database(const std::string& path, std::string* error);

}  // namespace q4::lite
