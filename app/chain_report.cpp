#include "app/chain_report.h"

#include "app/ca_sequence.h"
#include "app/protein_tools.h"

using vantrel::String;

namespace {

const char* const separator =
    "------------------------------------------------------------------------";

// The verdict on the best candidate (modified) against the assigned sequence.
String verdict(const String& assigned, const String& modified, double confidence) {
  if (confidence < 0.95)
    return "The data is insufficient to either confirm or deny the sequence for this chain.";
  const int n = int(assigned.size());
  if (int(modified.size()) != n) return "Manual analysis is required.";
  int matches = 0, substitutions = 0, gaps = 0;  // "?" counts in none
  for (int p = 0; p < n; ++p) {
    const char c = modified[p];
    if (c == assigned[p])
      ++matches;
    else if (c >= 'A' && c <= 'Z')
      ++substitutions;
    else if (c == '+' || c == '-')
      ++gaps;
  }
  const int quarter = n / 4, three_quarters = (3 * n) / 4;
  if (matches > three_quarters && substitutions == 0)
    return String("The supplied data ") + (confidence > 0.999 ? "strongly" : "weakly") +
           " supports the assigned sequence.";
  if (matches > quarter) {
    // 6 is an absolute count of substitutions, whatever the chain length.
    if (substitutions > 6 && gaps > 0)
      return "WARNING: The supplied data suggests a partial sequence register error.";
    return "Manual analysis is required.";
  }
  if (matches < quarter && substitutions > quarter)
    return "WARNING: The supplied data suggests a tracing error or major sequence register "
           "error.";
  return "Manual analysis is required.";
}

}  // namespace

void chain_report(std::ostream& out, const String& chain_id, const vantrel::MPolymer& chain,
                  const Score_list<String>& result) {
  const String assigned = ProteinTools::chain_sequence(chain);
  const bool ranked = result.size() >= 2;
  const String modified = ranked ? result[0] : String();
  const double confidence =
      ranked ? Ca_sequence::phi_approx(result.score(1) - result.score(0)) : 0.0;
  const String sentence = verdict(assigned, modified, confidence);

  out << std::endl << separator << std::endl << std::endl;
  out << "CHAIN: " << chain_id << std::endl;
  out << "Original: " << assigned << std::endl;
  out << "Modified: " << modified << std::endl;
  out << "Confidence: " << String(confidence, 0, 6) << std::endl;
  out << std::endl << sentence << std::endl;
}
