#pragma once

#include "driver/token_stored_object.h"
#include "objects/tok_hw_feature.h"
#include "support/noncopyable.h"

namespace qel {

// Vendor hardware feature through which an application reads, and the security officer sets,
// the token's maximum number of user PIN tries (CKA_USER_AUTH_MAX_TRY). Nothing is kept in
// the library: every read and write goes to the device. Never written to token files.
class SOTokenProperties : public zrck::TokHWFeature, public TokenStoredObject, private vdk::Noncopyable {
public:
    SOTokenProperties() = default;

    void SetOwnerSession(CK_SESSION_HANDLE) override {}
    bool IsObjectMeetConditions(const zrck::AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    ObjectLifeTimeEnum GetLifeTime() const override { return LIFETIME_FIXED; }
    ObjectVisibilityEnum GetVisibility() const override { return VISIBILITY_PUBLIC; }
    void SetVisibility(ObjectVisibilityEnum) override {}
    CK_RV GetAttributes(zrck::AttributeTemplate& attributes) override;
    // Security officer only; the whole template is checked before the device is changed.
    CK_RV UpdateAttributes(zrck::AttributeTemplate& attributes) override;
    void SetupAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "SOTokenProperties"; }
    void SetupAttribute(const zrck::Attribute& attribute) override;
    CK_HW_FEATURE_TYPE GetFeatureType() const override { return CKH_ZR_SO_PROPERTIES; }

    uint16_t GetTokenIndexType() const override { return 0; }
    void StoreAttributes() override {}
    void ReadAttributes() override {}
    bool RefreshFrom(TokenStoredObject&) override { return false; }
    void InitDefaults() override {}

    CK_ULONG GetUserAuthMaxCount() const;
    void SetUserAuthMaxCount(CK_ULONG count);
};

}  // namespace qel
