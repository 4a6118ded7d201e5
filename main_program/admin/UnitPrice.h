#pragma once

namespace store {
class RecordSet;
}

namespace tallyon {

// The unit price that the administration window's load sets: the `price` of the row the
// freshly opened "select * from knumber" stands on (its first row). A price not above 0,
// no price, or no row at all gives the fallback 0.3.
float unitPriceFromFirstAccount(const store::RecordSet& accounts);

} // namespace tallyon
