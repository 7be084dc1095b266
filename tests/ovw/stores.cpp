// The stores the conformance suite runs against, with what each offers tests
// beyond the contract. A store built into the tests is one more entry here.
#include "ovw/contract.h"

#include "mapdb/testhooks.h"

namespace {

const maptest::Store kMapdb{"mapdb", ":memory:", mapdb::postEvent, mapdb::resetHooks};

}  // namespace

using maptest::MapContract;

INSTANTIATE_TEST_SUITE_P(Stores, MapContract, ::testing::Values(&kMapdb),
                         [](const ::testing::TestParamInfo<const maptest::Store *> &info) {
                             return std::string(info.param->name);
                         });
