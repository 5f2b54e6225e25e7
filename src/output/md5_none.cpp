// SPDX-License-Identifier: MIT
// Built without the crypto library: no digest, and --dict is refused
// before a dictionary is begun.
#include "output/md5.h"

struct Md5::State {};

Md5::Md5() = default;
Md5::~Md5() = default;

bool Md5::built() { return false; }
bool Md5::restart() { return false; }
bool Md5::update(const unsigned char*, size_t) { return false; }
std::string Md5::hex() { return ""; }
