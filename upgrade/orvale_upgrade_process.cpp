// The upgrade object's construction and its trace output.
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {

OrvaleUpgradeProcess::OrvaleUpgradeProcess(const UpgradeEnvironment& environment)
    : env_(environment) {}

void OrvaleUpgradeProcess::trace(TextView label, TextView value) {
  Text line;
  line.reserve(label.size() + value.size() + 1);
  line.append(label).append(value).push_back(u'\n');
  env_.trace.write(line);
}

}  // namespace qwus
