// Ids of the test-only sample dialog; included by its page and its .rc alike.
#pragma once

#define IDD_SAMPLE 200
#define IDC_SAMPLE_NAME 1001
#define IDC_SAMPLE_AGREE 1002
#define IDC_SAMPLE_OPTIONS 1003
#define IDC_SAMPLE_CHOICE 1004
