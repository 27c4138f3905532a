// The sites file reader: any bytes read without harm, and whatever tree they give is written
// back as bytes that read back as the same tree and write back to the same bytes, so a file
// that loads can always be saved again.
#include "FuzzSupport.h"
#include "config/Sites.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SiteTree tree;
    tree.read(Fuzz::bytes(data, size));
    FUZZ_CHECK(!tree.nodes().empty() && tree.nodes().front() == tree.root(), "the root comes first");
    for (const SiteNode* node : tree.nodes()) {
        FUZZ_CHECK(node == tree.root() || (node->parent && node->parent->folder), "every node hangs in a folder");
        FUZZ_CHECK(SiteTree::depth(node) <= SiteTree::MaxDepth + 1, "folders nest no deeper than the file holds");
        FUZZ_CHECK(tree.find(node->name) == node, "names are unique");
    }

    const QByteArray written = tree.toBytes();
    SiteTree back;
    const QStringList problems = back.read(written);
    FUZZ_CHECK(problems.isEmpty(), "a written file reads without a skipped line");
    FUZZ_CHECK(back.describe() == tree.describe(), "a written file reads back as the same tree");
    FUZZ_CHECK(back.toBytes() == written, "a tree read back writes the same bytes");
    return 0;
}
