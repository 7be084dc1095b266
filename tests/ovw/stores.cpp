// The stores the conformance suite runs against, with what each offers tests
// beyond the contract. A store built into the tests is one more entry here.
#include "ovw/contract.h"

#include "mapdb/testhooks.h"
#include "support/pgserver.h"

namespace {

const maptest::Store kMapdb{"mapdb", ":memory:", nullptr, mapdb::postEvent, mapdb::resetHooks};
// The same store on a PostgreSQL server: a new schema of the tests' private
// server for each test.
const maptest::Store kPgmap{"pgmap", nullptr,
                            [] {
                                auto &pg = tqtest::PgServer::shared();
                                const std::string uri = pg.ok() ? pg.freshMap() : std::string();
                                if (uri.empty())
                                    ADD_FAILURE() << pg.error();
                                return uri;
                            },
                            mapdb::postEvent, mapdb::resetHooks, true};

}  // namespace

using maptest::MapContract;

INSTANTIATE_TEST_SUITE_P(Stores, MapContract, ::testing::Values(&kMapdb, &kPgmap),
                         [](const ::testing::TestParamInfo<const maptest::Store *> &info) {
                             return std::string(info.param->name);
                         });
