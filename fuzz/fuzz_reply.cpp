// The reply path over any bytes: CheckReplyCrc, ReplyFitsRequest, then DecodeReply, for any request
// function and value type, as the engine runs it. The first two input bytes choose function and
// type.
#include "regmap/error.h"
#include "txn/codec.h"
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const std::uint8_t functions[] = {3, 4, 6, 8, 16};
    // No type, and every type there is.
    static const std::vector<std::uint8_t> types = [] {
        std::vector<std::uint8_t> codes{tcNone};
        for (const ValueTypeInfo* row = ValueTypesBegin(); row != ValueTypesEnd(); ++row)
            codes.push_back(static_cast<std::uint8_t>(row->code));
        return codes;
    }();
    RegisterTree tree;
    TreeNode* reg = tree.appendTopLevel();
    reg->record.Type = (data[1] & 0x80) ? "HEX" : "WORD";
    reg->states |= NodeState::HasChildren;
    TreeNode* option = reg->appendChild();
    option->record.Type = "BIT";
    option->record.Value = "1";
    TxnState state;
    state.CurrentNode = reg;
    state.CurrentRecord = &reg->record;
    state.frame.Frame[fpFunction] = functions[data[0] % 5];
    state.frame.ValueType = types[data[1] % types.size()];
    state.PendingWriteText = "5";
    const std::size_t count = std::min<std::size_t>(size - 2, kReplySize);
    std::memcpy(state.reply.Bytes, data + 2, count);
    state.reply.BytesRead = static_cast<std::uint32_t>(count);
    // Replies with a bad CRC never reach the decoder; decode every input anyway, since the
    // decoder must hold for any bytes a device can send with a valid CRC.
    CheckReplyCrc(state.reply.Bytes, static_cast<std::uint16_t>(count));
    ReplyFitsRequest(state.frame, state.reply.Bytes, static_cast<std::uint16_t>(count));
    try {
        DecodeReply(state, tree);
    } catch (const AppError&) {
    }
    return 0;
}
