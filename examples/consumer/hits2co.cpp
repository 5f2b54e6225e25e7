// SPDX-License-Identifier: MIT
// hits2co: turns hit lines "target from to rep from to" into co records.
//
//   hits2co [-s score] [input(-)]
#include <quenbrel/functions.h>

#include <cstdio>
#include <cstdlib>

int main(int, char** argv) {
  ARGMAP amap;
  getoptions(argv, amap, 1, "-s");
  int iScore = amap.count("-s") ? std::atoi(amap["-s"].c_str()) : 0;

  FILE* FIN = nullptr;
  if (assigninput(FIN, argv) == nullptr) {
    std::fputs("usage: hits2co [-s score] input(-)\n", stderr);
    return 1;
  }
  char sTgt[256], sRep[256];
  long iTgtFrom, iTgtTo, iRepFrom, iRepTo;
  while (std::fscanf(FIN, "%255s %ld %ld %255s %ld %ld", sTgt, &iTgtFrom, &iTgtTo, sRep, &iRepFrom,
                     &iRepTo) == 6) {
    print_co(stdout, sTgt, iTgtFrom, iTgtTo, sRep, iRepFrom, iRepTo, iScore);
  }
  if (FIN != stdin) std::fclose(FIN);
  return 0;
}
