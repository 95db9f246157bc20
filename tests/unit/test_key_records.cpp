#include "formats/key_records.h"
#include "formats/key_trust.h"
#include "formats/manifest.h"

#include <gtest/gtest.h>

namespace {

// A stand-in for ECDSA that keeps what matters to the rules: a signature
// belongs to one key and one text.
std::string fake_sign(const std::string& key, const std::string& bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    std::string signature(RECORD_SIGNATURE_BYTES, '\0');
    for (size_t i = 0; i < signature.size(); ++i)
        signature[i] = static_cast<char>(key[i] ^ static_cast<char>(h >> (8 * (i % 8))));
    return signature;
}

const SignatureCheck FAKE_CHECK = [](const std::string& key, const std::string& bytes, const std::string& sig) {
    return sig == fake_sign(key, bytes);
};

std::string key(char c) { return std::string(PUBLIC_KEY_BYTES, c); }

// Records whose roots are `roots` in order, each change signed as the
// studio's tool signs it, with release keys A (valid from 1, withdrawn from 9)
// and B (valid from 9).
KeyRecords records_with_roots(const std::string& roots, int64_t sequence = 4)
{
    KeyRecords records;
    records.sequence = sequence;
    for (char c : roots) {
        RootKey root{key(c), {}, {}};
        if (!records.roots.empty()) {
            const std::string message =
                root_change_message(records.roots.size() + 1, records.roots.back().key, root.key);
            root.by_old = fake_sign(records.roots.back().key, message);
            root.by_new = fake_sign(root.key, message);
        }
        records.roots.push_back(root);
    }
    records.keys = {ReleaseKey{key('A'), 1, true, 9}, ReleaseKey{key('B'), 9, false, 0}};
    return records;
}

struct Signed {
    KeyRecords records;
    std::string text, signature;
};

Signed signed_by_newest(const KeyRecords& records)
{
    const std::string text = key_records_to_text(records);
    return Signed{records, text, fake_sign(records.roots.back().key, text)};
}

RecordsVerdict walk_from(char trusted, const Signed& records)
{
    return verify_key_records(key(trusted), records.records, records.text, records.signature, FAKE_CHECK);
}

std::string refusal_of(const std::string& text)
{
    KeyRecords records;
    KeyRefusal refusal = KeyRefusal::none;
    parse_key_records(text, records, &refusal);
    return key_refusal_name(refusal);
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(KeyRecords, OneCanonicalSpellingReadsBackAndEveryOtherIsRefusedByName)
{
    KeyRecords records = records_with_roots("123");
    records.has_lower_mark = true;
    records.lower_mark = 8;
    const std::string text = key_records_to_text(records);
    KeyRecords read;
    ASSERT_TRUE(parse_key_records(text, read)) << text;
    EXPECT_EQ(key_records_to_text(read), text);
    EXPECT_EQ(read.roots[2].by_old, records.roots[2].by_old);
    EXPECT_TRUE(read.keys[0].withdrawn);
    EXPECT_EQ(read.keys[0].withdrawn_from, 9);
    EXPECT_FALSE(read.keys[1].withdrawn);

    const std::string a_hex = hex_text(key('A'));
    EXPECT_EQ(refusal_of(text + std::string(KEY_RECORDS_MAX_BYTES, ' ')), "too_large");
    EXPECT_EQ(refusal_of(text.substr(0, text.size() / 2)), "syntax");
    EXPECT_EQ(refusal_of(replaced(text, "\"keys_format\":1", "\"keys_format\":2")), "format");
    EXPECT_EQ(refusal_of(replaced(text, "\"sequence\":4", "\"sequence\":-4")), "bad_number");
    EXPECT_EQ(refusal_of(replaced(text, "\"from\":9", "\"from\":9.5")), "bad_number");
    EXPECT_EQ(refusal_of(replaced(text, "\"from\":9", "\"from\":9007199254740992")), "bad_number");
    EXPECT_EQ(refusal_of(replaced(text, "\"withdrawn\":9", "\"withdrawn\":\"9\"")), "bad_number");
    EXPECT_EQ(refusal_of(replaced(text, "\"lower_mark\":8", "\"lower_mark\":null,\"x\":1")), "not_canonical");
    EXPECT_EQ(refusal_of(replaced(text, a_hex, hex_text(std::string(63, 'A')))), "bad_key");
    EXPECT_EQ(refusal_of(replaced(text, "\"key\":\"41", "\"key\":\"4A")), "bad_key");   // upper-case hex
    EXPECT_EQ(refusal_of(replaced(text, "\"by_new\":\"", "\"by_new\":\"x")), "bad_signature");
    EXPECT_EQ(refusal_of(replaced(text, a_hex, hex_text(key('2')))), "repeated_key");
    EXPECT_EQ(refusal_of(replaced(text, "\"sequence\":4", "\"sequence\": 4")), "not_canonical");
    EXPECT_EQ(refusal_of(replaced(text, "\"sequence\":4", "\"sequence\":4.0")), "not_canonical");
    EXPECT_EQ(refusal_of(text + "{}"), "not_canonical");
    EXPECT_EQ(refusal_of(replaced(text, "\"roots\":[", "\"sequence\":5,\"roots\":[")), "not_canonical");

    KeyRecords rootless = records;
    rootless.roots.clear();
    EXPECT_EQ(refusal_of(key_records_to_text(rootless)), "no_root");
    KeyRecords crowded = records_with_roots("1");
    for (size_t i = 0; i <= MAX_RELEASE_KEYS; ++i)
        crowded.keys.push_back(ReleaseKey{std::string(63, 'k') + char(i), 1});
    EXPECT_EQ(refusal_of(key_records_to_text(crowded)), "too_many");
    std::string many_roots;
    for (size_t i = 0; i <= MAX_ROOTS; ++i) many_roots += static_cast<char>('a' + i);
    EXPECT_EQ(refusal_of(key_records_to_text(records_with_roots(many_roots))), "too_many");
}

TEST(KeyRecords, AManifestAndKeyRecordsAreNeverReadAsEachOther)
{
    const std::string manifest = "{\"format\":1,\"run\":{\"exe\":\"game.exe\"},\"files\":[{\"p\":\"game.exe\","
                                 "\"h\":\"" + std::string(64, 'a') + "\",\"s\":1}],\"serial\":3}";
    Manifest read;
    ASSERT_TRUE(parse_manifest(manifest, read));
    EXPECT_EQ(refusal_of(manifest), "format");
    DocumentRefusal refusal = DocumentRefusal::none;
    EXPECT_FALSE(parse_manifest(key_records_to_text(records_with_roots("12")), read, &refusal));
    EXPECT_EQ(refusal, DocumentRefusal::format);
}

TEST(KeyTrust, TheWalkGoesForwardOneVerifiedRootChangeAtATimeAndNeverBack)
{
    const Signed chain = signed_by_newest(records_with_roots("123"));
    for (char trusted : {'1', '2', '3'}) {
        EXPECT_EQ(walk_from(trusted, chain).refusal, KeyRefusal::none) << trusted;
        EXPECT_EQ(walk_from(trusted, chain).newest_root, 2u);
    }
    // Records that stop before the root reached (an older edition replayed),
    // or belong to another chain, are refused.
    EXPECT_EQ(walk_from('3', signed_by_newest(records_with_roots("12"))).refusal, KeyRefusal::unknown_root);
    EXPECT_EQ(walk_from('9', chain).refusal, KeyRefusal::unknown_root);
    // Signed by a root the chain has moved past.
    Signed by_second = chain;
    by_second.signature = fake_sign(key('2'), chain.text);
    EXPECT_EQ(walk_from('1', by_second).refusal, KeyRefusal::signature);

    // Both halves of a change count, and a change signed for another place
    // in the chain does not stand for this one.
    const std::string third = root_change_message(3, key('2'), key('3'));
    const std::string second = root_change_message(2, key('2'), key('3'));
    const std::pair<std::string, std::string> wrong_halves[] = {
        {fake_sign(key('1'), third), fake_sign(key('3'), third)},     // handed over by a root before the last
        {fake_sign(key('2'), third), fake_sign(key('2'), third)},     // not accepted by the new root
        {fake_sign(key('2'), second), fake_sign(key('3'), second)},   // signed for the second place
    };
    for (const auto& [by_old, by_new] : wrong_halves) {
        KeyRecords records = chain.records;
        records.roots[2].by_old = by_old;
        records.roots[2].by_new = by_new;
        const Signed broken = signed_by_newest(records);
        EXPECT_EQ(walk_from('1', broken).refusal, KeyRefusal::root_change);
        EXPECT_EQ(walk_from('1', broken).failed_root, 2u);
        // A launcher already at root 3 does not need that change.
        EXPECT_EQ(walk_from('3', broken).refusal, KeyRefusal::none);
    }
}

TEST(KeyTrust, RecordsMoveOnlyForwardAndKeysSignOnlyTheirSerials)
{
    const Signed kept = signed_by_newest(records_with_roots("12", 4));
    const Signed newer = signed_by_newest(records_with_roots("12", 5));
    const Signed older = signed_by_newest(records_with_roots("12", 3));
    Signed rewritten = signed_by_newest(records_with_roots("12", 4));
    rewritten.records.keys.pop_back();
    rewritten.text = key_records_to_text(rewritten.records);
    EXPECT_EQ(judge_records_order(kept.records, kept.text, newer.records, newer.text), KeyRefusal::none);
    EXPECT_EQ(judge_records_order(kept.records, kept.text, kept.records, kept.text), KeyRefusal::none);
    EXPECT_EQ(judge_records_order(kept.records, kept.text, older.records, older.text), KeyRefusal::older_records);
    EXPECT_EQ(judge_records_order(kept.records, kept.text, rewritten.records, rewritten.text),
              KeyRefusal::other_records);

    const KeyRecords& records = kept.records;
    const std::string body = "{\"format\":1}";
    auto judged = [&](const std::string& signer_key, bool has_serial, int64_t serial) {
        const ManifestSigner signer = find_manifest_signer(records, 1, body, fake_sign(signer_key, body), FAKE_CHECK);
        return key_refusal_name(judge_manifest_signer(signer, has_serial, serial));
    };
    EXPECT_STREQ(judged(key('A'), true, 8), "none");
    EXPECT_STREQ(judged(key('A'), true, 9), "withdrawn_key");
    EXPECT_STREQ(judged(key('A'), true, 1000000), "withdrawn_key");
    EXPECT_STREQ(judged(key('B'), true, 8), "not_yet_valid");
    EXPECT_STREQ(judged(key('B'), true, 9), "none");
    EXPECT_STREQ(judged(key('B'), false, 0), "unnumbered");
    EXPECT_STREQ(judged(key('2'), false, 0), "none");          // the newest root signs directly
    EXPECT_STREQ(judged(key('1'), true, 9), "unknown_key");    // a root changed away from does not
    EXPECT_STREQ(judged(key('C'), true, 9), "unknown_key");
}
