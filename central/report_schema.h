// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// Central schema step 4: what each following computer sends, in rows of its own account.
// 播放报告 holds every play record, 计算机状态 each computer's latest heartbeat. They are not
// site tables (no computer copies them, no change of theirs is announced or recorded): a
// follower inserts its own rows of the sites it is given, an editor reads its sites' rows,
// the district's administrator reads every row and prunes them.
QStringList ReportTables();
