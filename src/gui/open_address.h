// Opening web addresses in the seller's default browser, with a seam for tests.
#pragma once

#include <QString>
#include <functional>

namespace torvane {

// Hands a plain web address (http:// or https://) to the system's opener; anything else is ignored.
// Nothing waits for the browser and failures are not reported.
void OpenAddress(const QString& address);

// Tests: addresses go to opener instead of the browser (an empty function restores the browser).
void SetAddressOpener(std::function<void(const QString&)> opener);

}  // namespace torvane
