#pragma once

// File names as callpanel holds them: UTF-8 on both systems. Windows opens a file by its
// UTF-16 name, whatever its code page; elsewhere the bytes pass as they are.

#include <cstdio>
#include <filesystem>
#include <string>

std::FILE* OpenUtf8File(const std::string& path, const char* mode);
std::filesystem::path Utf8Path(const std::string& path);

// An environment variable as UTF-8 (Windows keeps them in UTF-16); empty when it is not set.
std::string Utf8Environment(const char* name);
