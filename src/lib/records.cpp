// SPDX-License-Identifier: MIT
// Hit records: the one-line co and ft records that tools write for a matched
// pair of ranges (a target range and a rep range), and their readers.
//
// The FILE* writers produce the column layouts that other tools parse; the
// stream writers go through the stream's own formatting and deliberately
// leave their adjustment, precision and notation settings on the stream, so
// that tools which print several records in a row get the layout they have
// always had. Do not "tidy" those settings away.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <iomanip>

#include "lib/functions.h"

namespace {

// A null name in a FILE* record is written as an empty name: passing null to
// "%s" is undefined and crashes on some C libraries.
const char* orEmpty(const char* pcName) { return pcName ? pcName : ""; }

// Inserts a name. A null pointer puts the stream into the bad state, as the
// standard insertion of a null character pointer does in libstdc++; doing it
// here keeps that behaviour on libraries that would dereference the null.
void putName(std::ostream& os, const char* pcName) {
  if (pcName)
    os << pcName;
  else
    os.setstate(std::ios::badbit);
}

// Adds the left flag beside whatever adjustment flags are already set.
void addLeft(std::ostream& os) { os.setf(std::ios::left); }

// Clears the left flag only.
void dropLeft(std::ostream& os) { os << std::resetiosflags(std::ios::left); }

char dirChar(bool isDirect) { return isDirect ? 'd' : 'c'; }

// The dTranz notation switches at 0.1; not-a-number fails the comparison and
// so takes the same branch as values of 0.1 and above.
bool isSmallTranz(double dTranz) { return dTranz < 0.1; }

// Positions and scores are read as doubles so that fractions and exponents
// are accepted; they are truncated toward zero. Values beyond the integer
// range saturate and not-a-number gives 0, rather than being undefined.
long toLong(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  if (d <= static_cast<double>(LONG_MIN)) return LONG_MIN;
  return static_cast<long>(d);
}

int toInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(d);
}

// True when a "%9s" conversion that stopped at `pc` took the whole token,
// i.e. the token was at most 9 characters long.
bool tokenEnded(const char* pc) {
  return *pc == '\0' || std::isspace(static_cast<unsigned char>(*pc));
}

void printFtHead(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo,
                 const char* pcRepName, long iRepFrom, long iRepTo, double dSim, bool isDirect) {
  fprintf(FOUT, "%-12s %7ld %-7ld %12s %7ld %-7ld %c   %-5.4f ", orEmpty(pcTgtName), iTgtFrom,
          iTgtTo, orEmpty(pcRepName), iRepFrom, iRepTo, dirChar(isDirect), dSim);
}

// Fields 7 to 9 of the stream ft record, common to both forms: direction,
// similarity and dTranz. Below 0.1 the precision of dTranz is left at the 4
// set for the similarity.
void putFtMiddle(std::ostream& os, bool isDirect, double dSim, double dTranz) {
  os << dirChar(isDirect) << "   ";
  os << std::setprecision(4) << std::setw(5) << dSim << " ";
  if (!isSmallTranz(dTranz)) os << std::setprecision(2);
  os << std::setw(5) << dTranz << " ";
}

// The ft scan shared by both readers. Positions go to doubles so that
// fractional positions are accepted; whatever follows the tenth field (the
// percentages of the long form) is ignored. Outputs derived from the
// positions are only stored when the scan reached their field.
struct FtScan {
  int iRes = 0;
  double dTgtFrom = 0, dTgtTo = 0, dRepFrom = 0, dRepTo = 0, dScore = 0;
  char cDir = 0;
};

FtScan scanFt(const char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
              long& iRepFrom, long& iRepTo, double& dSim, double& dTranz) {
  FtScan r;
  // NOLINTNEXTLINE(cert-err34-c): the layout is read by scanf; its count tells how far it got.
  r.iRes = sscanf(pcLine, "%s %lf %lf %s %lf %lf %c %lf %lf %lf", pcTgtName, &r.dTgtFrom, &r.dTgtTo,
                  pcRepName, &r.dRepFrom, &r.dRepTo, &r.cDir, &dSim, &dTranz, &r.dScore);
  if (r.iRes >= 2) iTgtFrom = toLong(r.dTgtFrom);
  if (r.iRes >= 3) iTgtTo = toLong(r.dTgtTo);
  if (r.iRes >= 5) iRepFrom = toLong(r.dRepFrom);
  if (r.iRes >= 6) iRepTo = toLong(r.dRepTo);
  return r;
}

}  // namespace

void print_co(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, int iScore) {
  fprintf(FOUT, "%-5d %-12s %7ld > %-7ld %12s %7ld > %-7ld\n", iScore, orEmpty(pcRepName), iRepFrom,
          iRepTo, orEmpty(pcTgtName), iTgtFrom, iTgtTo);
}

void print_co(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, int iScore) {
  addLeft(os);
  os << std::setw(5) << iScore << " ";
  os << std::setw(12);
  putName(os, pcRepName);
  os << " ";
  os << std::setw(7) << iRepFrom;
  addLeft(os);
  os << std::setw(7) << iRepTo;
  os << std::setw(12);
  putName(os, pcTgtName);
  os << " ";
  os << std::setw(7) << iTgtFrom;
  addLeft(os);
  os << std::setw(7) << iTgtTo << "\n";
  // A bad stream skips insertions without consuming their width; never
  // hand a pending width on to the caller's next insertion.
  os.width(0);
}

void print_ft(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, double dScore, double dSim, double dTranz,
              bool isDirect) {
  printFtHead(FOUT, pcTgtName, iTgtFrom, iTgtTo, pcRepName, iRepFrom, iRepTo, dSim, isDirect);
  if (isSmallTranz(dTranz))
    fprintf(FOUT, "%-5.2e %.0f\n", dTranz, dScore);
  else
    fprintf(FOUT, "%-5.2f %.0f\n", dTranz, dScore);
}

void print_ft(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, double dScore, double dSim, double dTranz, bool isDirect,
              double percent1, double percent2) {
  printFtHead(FOUT, pcTgtName, iTgtFrom, iTgtTo, pcRepName, iRepFrom, iRepTo, dSim, isDirect);
  if (isSmallTranz(dTranz))
    fprintf(FOUT, "%-5.2e %.0f\t%f\t%f\n", dTranz, dScore, percent1, percent2);
  else
    fprintf(FOUT, "%-5.2f %.0f\t%f\t%f\n", dTranz, dScore, percent1, percent2);
}

void print_ft(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, double dScore, double dSim,
              double dTranz, bool isDirect) {
  addLeft(os);
  os << std::setw(12);
  putName(os, pcTgtName);
  os << " ";
  dropLeft(os);
  os << std::setw(7) << iTgtFrom << " ";
  addLeft(os);
  os << std::setw(7) << iTgtTo << " ";
  addLeft(os);
  os << std::setw(12);
  putName(os, pcRepName);
  os << " ";
  dropLeft(os);
  os << std::setw(7) << iRepFrom << " ";
  addLeft(os);
  os << std::setw(7) << iRepTo << " ";
  putFtMiddle(os, isDirect, dSim, dTranz);
  addLeft(os);
  os << std::setprecision(0) << std::setw(7) << dScore << "\n";
  os.width(0);
}

void print_ft(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, double dScore, double dSim,
              double dTranz, bool isDirect, double percent1, double percent2) {
  os << std::left << std::setw(12);
  putName(os, pcTgtName);
  os << " ";
  os << std::right << std::setw(7) << iTgtFrom << " ";
  os << std::left << std::setw(7) << iTgtTo << " ";
  os << std::left << std::setw(12);
  putName(os, pcRepName);
  os << " ";
  os << std::right << std::setw(7) << iRepFrom << " ";
  os << std::left << std::setw(7) << iRepTo << " ";
  putFtMiddle(os, isDirect, dSim, dTranz);
  os << std::right << std::setprecision(0) << std::fixed << std::setw(7) << dScore << " ";
  os << std::setprecision(2) << std::setw(7) << percent1 << " ";
  os << std::setw(7) << percent2 << "\n";
  os.width(0);
}

// The scan runs in three pieces so that the two separator tokens (">" in the
// FILE* layout, though any token is accepted) can be bounded to the 9
// characters of sTrash. A longer separator token does not match: the scan
// ends before it and the count says so. Every output is written by the scan
// itself, so the fields it did not reach keep their previous values.
int read_co(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, int& iScore) {
  char sTrash[10];
  int iEnd = 0;
  // NOLINTNEXTLINE(cert-err34-c): the layout is read by scanf; its count tells how far it got.
  int iRes = sscanf(pcLine, "%d %s %ld %9s%n", &iScore, pcRepName, &iRepFrom, sTrash, &iEnd);
  if (iRes < 4) return iRes - 1;
  if (!tokenEnded(pcLine + iEnd)) return 3 - 1;

  const char* pc = pcLine + iEnd;
  // NOLINTNEXTLINE(cert-err34-c): as above.
  iRes = sscanf(pc, "%ld %s %ld %9s%n", &iRepTo, pcTgtName, &iTgtFrom, sTrash, &iEnd);
  if (iRes < 4) return 4 + (iRes > 0 ? iRes : 0) - 1;
  if (!tokenEnded(pc + iEnd)) return 7 - 1;

  iRes = sscanf(pc + iEnd, "%ld", &iTgtTo);  // NOLINT(cert-err34-c): as above.
  return 8 + (iRes > 0 ? iRes : 0) - 1;
}

int read_ft(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, double& dScore, double& dSim, double& dTranz,
            bool& isDirect) {
  FtScan r = scanFt(pcLine, pcTgtName, iTgtFrom, iTgtTo, pcRepName, iRepFrom, iRepTo, dSim, dTranz);
  if (r.iRes >= 7) isDirect = r.cDir == 'd';
  if (r.iRes >= 10) dScore = r.dScore;
  return r.iRes - 1;
}

// The direction becomes a suffix of the rep name: "@1" for d, "@2" for c.
// When the scan stopped before the direction field there is no direction to
// judge: nothing is appended and the count minus one is returned as for any
// short scan; the caller sees from it that the record was incomplete. Only a
// direction that was read and is neither d nor c gives 0.
int read_ft(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, int& iScore, double& dSim, double& dTranz) {
  FtScan r = scanFt(pcLine, pcTgtName, iTgtFrom, iTgtTo, pcRepName, iRepFrom, iRepTo, dSim, dTranz);
  if (r.iRes >= 10) iScore = toInt(r.dScore);
  if (r.iRes < 7) return r.iRes - 1;
  // The caller sizes pcRepName for the suffix; the interface passes no size.
  if (r.cDir == 'd')
    strcat(pcRepName, "@1");  // NOLINT(clang-analyzer-security.insecureAPI.strcpy)
  else if (r.cDir == 'c')
    strcat(pcRepName, "@2");  // NOLINT(clang-analyzer-security.insecureAPI.strcpy)
  else
    return 0;
  return r.iRes - 1;
}
