#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace ZELKUtil {
namespace {

// The FIPS 180-4 examples (and the NIST long message), whole and fed in uneven pieces across
// the block bounds: the padding's two cases (the length fits the last block, or needs another)
// both come up.
TEST(Sha256Test, KnownDigestsWholeAndInPieces) {
    const std::string million(1000000, 'a');
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 20));
        EXPECT_EQ(Sha256Hex(c.message), c.digest);
        Sha256 pieces;
        for (std::size_t at = 0, size = 1; at < c.message.size(); at += size, size = size * 3 + 1) {
            pieces.Update(std::string_view(c.message).substr(at, size));
        }
        EXPECT_EQ(HexOf(pieces.Finish()), c.digest);
        // A hash that finished starts afresh.
        pieces.Update("abc");
        EXPECT_EQ(HexOf(pieces.Finish()),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }
    // 55, 56 and 64 bytes: the last length that fits one block, the first that does not, a
    // whole block.
    EXPECT_EQ(Sha256Hex(std::string(55, 'a')),
              "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Sha256Hex(std::string(56, 'a')),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(Sha256Hex(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

}  // namespace
}  // namespace ZELKUtil
