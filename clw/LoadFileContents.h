#pragma once
#include <string>
#include <vector>

// Reads the whole file `fileName` into `buffer` (replacing what it held), in binary mode
// when `binary` is set and in text mode otherwise. Throws std::runtime_error with
// "Cannot read the contents of a file" when the file cannot be opened.
void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary);
