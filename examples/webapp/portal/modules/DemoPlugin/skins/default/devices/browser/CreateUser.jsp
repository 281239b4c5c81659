<%@ page contentType="text/html; charset=UTF-8" %>
<form method="post"></form>
