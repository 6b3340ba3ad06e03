// Expected resolutions and their check, shared by the resolver tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "resolver/resolve.hpp"

namespace torvex {
namespace {

struct Expect {
    ResolvedKind kind = ResolvedKind::Str;
    bool boolean = false;
    std::int64_t integer = 0;
    double floating = 0.0;
};

const Expect S{ResolvedKind::Str};
const Expect N{ResolvedKind::Null};
const Expect M{ResolvedKind::Merge};
const Expect Big{ResolvedKind::BigInt};
Expect B(bool b) { return {ResolvedKind::Bool, b}; }
Expect I(std::int64_t i) { return {ResolvedKind::Int, false, i}; }
Expect F(double d) { return {ResolvedKind::Float, false, 0, d}; }

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_resolved(const Resolved& got, const Expect& want, const std::string& what) {
    ASSERT_EQ(resolved_kind_name(got.kind), std::string(resolved_kind_name(want.kind))) << what;
    ASSERT_EQ(got.kind, want.kind) << what;
    switch (want.kind) {
        case ResolvedKind::Bool:
            EXPECT_EQ(got.boolean, want.boolean) << what;
            break;
        case ResolvedKind::Int:
            EXPECT_EQ(got.integer, want.integer) << what;
            break;
        case ResolvedKind::Float:
            if (std::isnan(want.floating)) {
                EXPECT_TRUE(std::isnan(got.floating)) << what;
            } else {
                EXPECT_EQ(got.floating, want.floating) << what;
                EXPECT_EQ(std::signbit(got.floating), std::signbit(want.floating)) << what;
            }
            break;
        default:
            break;
    }
}

constexpr ResolveMode kModes[] = {ResolveMode::Yaml12, ResolveMode::Yaml11, ResolveMode::PyYamlCompat};

}  // namespace
}  // namespace torvex
