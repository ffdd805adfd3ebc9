// The 7.1 interfaces against contract71.txt (written out from the 7.1
// tables: everything under IDbMapiProps one slot lower than in 7.4, IDbMessage
// 24 and 25 handing out recipients, GetMasks with two outs, one GUID in
// ISynchronizator 10 to 12), and their interface IDs in factory order.
#include "Contract.h"

namespace contract {
TYPE_SELF(IDbRecipient)
TYPE_SELF(__MIDL___MIDL_itf_Hollomar_0000_0001)
}  // namespace contract

namespace {

TEST(Contract71, EverySlotHasItsPublishedNameAndParameterTypes) {
    // 198 written rows and 48 derived ones.
    contract::expectEverySlot(STORESET_SOURCE_DIR "/Tools/Storeset_7_1/BackendWrappers/tests/contract71.txt",
                              246);
}

TEST(Contract71, InterfaceIdsAreThePublishedOnesWithTheRecipientSeventh) {
    contract::expectIdsInSetOrder({
        "{00000000-0000-0000-C000-000000000046}", "{12A94FB1-F6E5-4825-8F3C-E70A67938197}",
        "{C2F1FDB4-390A-4E30-9665-63418FBF5E6F}", "{08578AC6-BC15-4336-95B7-A3121A0FD38A}",
        "{D82E8E8B-0B94-44CA-908C-4B3B38054A6B}", "{D3C525C8-712C-431E-9F30-0DA309633AA4}",
        "{CD6BF09B-FF83-43D2-A67F-B312F2D1F00D}", "{47323FA0-8DD7-4BD9-9CEE-F66478F217EE}",
        "{68169311-6B1C-4742-9699-E63A96AFF760}", "{9DAB5590-9D1F-4219-BF5F-A79DB06CE484}",
        "{65ABA069-3C53-4B62-9DCB-F0D0A2202549}", "{1069C819-3208-47F1-B477-A6B3AC023202}",
        "{FE50FFBB-7F0D-42B8-850C-1674FF83DA3B}", "{00000030-0000-0000-C000-000000000046}",
        "{0000000C-0000-0000-C000-000000000046}", "{0000000B-0000-0000-C000-000000000046}",
        "{CB6EE8F9-3ACD-4976-B4C2-45A414AAB7FA}", "{4E797D1C-2480-4F72-9D76-C2A840DAC105}",
        "{D7A45040-1087-4A11-A470-6C3955841951}", "{07977CB8-6437-4054-AE14-BA6FA50094D8}",
        "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}", "{0000000D-0000-0000-C000-000000000046}",
        "{1C733A30-2A1C-11CE-ADE5-00AA0044773D}", "{4DD96898-53D2-45FB-A0BC-292DEF9A6BA1}",
        "{D0F2B9B2-5866-44CF-B5A7-F486EB97BF97}",
    });
}

}  // namespace
