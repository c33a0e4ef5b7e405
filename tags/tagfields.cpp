#include "tagfields.h"

namespace tagora {

bool operator==(const audiotag& a, const audiotag& b)
{
    for (const TagField& field : TagFields) {
        if (a.*field.member != b.*field.member)
            return false;
    }
    return a.Length == b.Length;
}

const TagField* fieldOf(QString audiotag::*member)
{
    for (const TagField& field : TagFields) {
        if (field.member == member)
            return &field;
    }
    return nullptr;
}

} // namespace tagora
